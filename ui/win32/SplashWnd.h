// The borderless window shown while the program starts: the splash picture, one status line
// that follows the loading of the plug-ins, a credit line and the version. It takes no input;
// once released it closes and frees itself when the message loop next runs.
#pragma once

#include <windows.h>

#include <string>

class TfrmSplash {
public:
    // Shown at once, centred on the screen, owned by owner.
    explicit TfrmSplash(HWND owner);
    TfrmSplash(const TfrmSplash&) = delete;
    TfrmSplash& operator=(const TfrmSplash&) = delete;

    void SetStatus(const std::string& text);
    // Hides the window; it is destroyed, and this object freed, by the next message loop.
    void Release();

    HWND Handle() const { return FHandle; }
    HWND lblStatus = nullptr;
    HWND lblCredit = nullptr;
    HWND lblVersion = nullptr;
    // The picture, 448 x 336 in 256 colours.
    HBITMAP imgSplash = nullptr;

    // The size at 96 DPI: the picture in a raised bevel 2 pixels wide. At another DPI the
    // picture and the texts are scaled, the bevel stays 2 pixels.
    static constexpr int kWidth = 452;
    static constexpr int kHeight = 340;
    static constexpr int kPictureWidth = 448;
    static constexpr int kPictureHeight = 336;

private:
    ~TfrmSplash();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs when the frame's size is set: clears the status and fills the version line.
    void FrameResize();
    // A label at a place given for 96 DPI.
    HWND Label(DWORD align, HFONT font, int left, int top, int width, int height);

    HWND FHandle = nullptr;
    UINT FDpi = 96;
    // The picture at the splash's size, behind the labels: imgSplash itself at 96 DPI.
    HBITMAP FScaledPicture = nullptr;
    HBRUSH FPictureBrush = nullptr;
    HFONT FFont = nullptr;
    HFONT FStatusFont = nullptr;
    HFONT FVersionFont = nullptr;
    // Only a released splash closes: the main window still calls on it until then, so a close
    // request from outside (the task list, taskkill) must not free it.
    bool FReleased = false;
};
