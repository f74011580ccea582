// zorvik-screenshot.exe OUT.png: the README's picture of the Windows window
// after a discovery. Presses Discover, lists the answers for a second, then
// saves the window as it is on the screen. It sends the probe, so run it only
// inside the simulated LAN (scripts/wine --display --devices K).
#include <windows.h>
// GDI+ needs the COM declarations that a lean windows.h leaves out.
#include <objidl.h>
#include <gdiplus.h>

#include <cstdio>

#include "window_program.hpp"

namespace {

// GDI+'s PNG encoder.
constexpr CLSID kPngEncoder = {0x557cf406, 0x1a04, 0x11d3, {0x9a, 0x73, 0x00, 0x00, 0xf8, 0x1e, 0xf3, 0x2e}};

bool saveWindow(HWND window, const wchar_t* path) {
    RECT at;
    GetWindowRect(window, &at);
    const int width = at.right - at.left;
    const int height = at.bottom - at.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ previous = SelectObject(memory, picture);
    BitBlt(memory, 0, 0, width, height, screen, at.left, at.top, SRCCOPY);
    SelectObject(memory, previous);

    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    Gdiplus::GdiplusStartup(&token, &input, nullptr);
    Gdiplus::GpBitmap* bitmap = nullptr;
    bool saved = Gdiplus::DllExports::GdipCreateBitmapFromHBITMAP(picture, nullptr, &bitmap) == Gdiplus::Ok &&
                 Gdiplus::DllExports::GdipSaveImageToFile(bitmap, path, &kPngEncoder, nullptr) == Gdiplus::Ok;
    if (bitmap != nullptr) {
        Gdiplus::DllExports::GdipDisposeImage(bitmap);
    }
    Gdiplus::GdiplusShutdown(token);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return saved;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zorvik-screenshot OUT.png  (inside scripts/wine --display --devices K)\n");
        return 2;
    }
    zorvik::win32::WindowProgram program;
    program.start();
    SendMessageW(program.window().cmdDiscover(), BM_CLICK, 0, 0);
    // Lists the answers for a second, then saves what the screen shows.
    SetTimer(nullptr, 0, 1000, [](HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(0); });
    zorvik::win32::runMessageLoop(&program.window());
    if (!saveWindow(program.window().handle(), argv[1])) {
        std::fprintf(stderr, "zorvik-screenshot: cannot write %ls\n", argv[1]);
        return 1;
    }
    return 0;
}
