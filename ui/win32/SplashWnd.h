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

    static constexpr int kWidth = 452;
    static constexpr int kHeight = 340;

private:
    ~TfrmSplash();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    // Runs when the frame's size is set: clears the status and fills the version line.
    void FrameResize();

    HWND FHandle = nullptr;
    HBRUSH FPictureBrush = nullptr; // the picture, behind the labels
    HFONT FFont = nullptr;
    HFONT FStatusFont = nullptr;
    HFONT FVersionFont = nullptr;
    // Only a released splash closes: the main window still calls on it until then, so a close
    // request from outside (the task list, taskkill) must not free it.
    bool FReleased = false;
};
