#include "tests/win32ui/WindowPicture.h"

#include <wincodec.h>

namespace {

template <class T> struct Released {
    T* p = nullptr;
    ~Released()
    {
        if (p != nullptr)
            p->Release();
    }
};

} // namespace

bool SaveWindowPicture(HWND window, const std::wstring& path)
{
    RECT area{};
    GetWindowRect(window, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    if (width <= 0 || height <= 0)
        return false;
    // From the screen, as a person sees it: the frame and any window over it included.
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
    const HGDIOBJ old = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, area.left, area.top, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    bool saved = false;
    Released<IWICImagingFactory> factory;
    Released<IWICBitmap> bitmap;
    Released<IWICStream> stream;
    Released<IWICBitmapEncoder> encoder;
    Released<IWICBitmapFrameEncode> frame;
    if (SUCCEEDED(CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_PPV_ARGS(&factory.p))) &&
        SUCCEEDED(factory.p->CreateBitmapFromHBITMAP(picture, nullptr, WICBitmapIgnoreAlpha,
                                                     &bitmap.p)) &&
        SUCCEEDED(factory.p->CreateStream(&stream.p)) &&
        SUCCEEDED(stream.p->InitializeFromFilename(path.c_str(), GENERIC_WRITE)) &&
        SUCCEEDED(factory.p->CreateEncoder(GUID_ContainerFormatPng, nullptr, &encoder.p)) &&
        SUCCEEDED(encoder.p->Initialize(stream.p, WICBitmapEncoderNoCache)) &&
        SUCCEEDED(encoder.p->CreateNewFrame(&frame.p, nullptr)) &&
        SUCCEEDED(frame.p->Initialize(nullptr)) &&
        SUCCEEDED(frame.p->WriteSource(bitmap.p, nullptr)) && SUCCEEDED(frame.p->Commit()) &&
        SUCCEEDED(encoder.p->Commit()))
        saved = true;
    DeleteObject(picture);
    return saved;
}
