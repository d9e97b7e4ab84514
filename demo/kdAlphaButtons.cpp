// A window of alpha buttons for looking at them: on a gradient, over a
// pattern drawn by a windowless control below them, enabled, disabled and
// hot (the cursor is put over the first one). Runs for the given number of
// seconds (default 5), then ends. demo/alpha-buttons-shot.sh takes a
// screenshot of it.
#include "widgets/AlphaButton.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr const wchar_t* kWindowClass = L"KeldoraAlphaButtonsDemo";

void PaintGradient(HWND window, HDC dc)
{
    RECT client = {};
    GetClientRect(window, &client);
    for (int y = client.top; y < client.bottom; ++y) {
        const int shade = 255 - 90 * y / std::max(1L, client.bottom);
        const UniqueGdiObject brush(CreateSolidBrush(RGB(shade - 40, shade - 10, 255)));
        const RECT row = {client.left, y, client.right, y + 1};
        FillRect(dc, &row, static_cast<HBRUSH>(brush.get()));
    }
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        auto* host = reinterpret_cast<TGraphicHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        LRESULT result = 0;
        if (host && host->HandleMessage(message, wParam, lParam, result))
            return result;
        if (message == WM_ERASEBKGND) {
            PaintGradient(window, reinterpret_cast<HDC>(wParam));
            return 1;
        }
    } catch (...) {
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

// Yellow and white squares: a busy background for soft glyph edges.
class Checkerboard : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    void Paint(HDC dc) override
    {
        const UniqueGdiObject yellow(CreateSolidBrush(RGB(250, 220, 60))), white(CreateSolidBrush(RGB(255, 255, 255)));
        for (int y = 0; y < Height(); y += 8)
            for (int x = 0; x < Width(); x += 8) {
                const RECT square = {x, y, x + 8, y + 8};
                FillRect(dc, &square, static_cast<HBRUSH>(((x + y) / 8 % 2 ? yellow : white).get()));
            }
    }
};

} // namespace

int main(int argc, char** argv)
{
    const int seconds = argc > 1 ? std::atoi(argv[1]) : 5;
    WNDCLASSW windowClass = {};
    windowClass.style = CS_DBLCLKS;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // the arrow
    windowClass.lpszClassName = kWindowClass;
    RegisterClassW(&windowClass);
    UniqueWindow window(CreateWindowExW(0, kWindowClass, L"Alpha buttons", WS_OVERLAPPEDWINDOW, 20, 20, 380, 220,
                                        nullptr, nullptr, GetModuleHandleW(nullptr), nullptr));
    auto host = std::make_unique<TGraphicHost>(window.get());
    SetWindowLongPtrW(window.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(host.get()));

    Checkerboard pattern(*host);
    pattern.SetBounds(20, 80, 320, 80);
    std::vector<std::unique_ptr<TAlphaButton>> buttons;
    const auto add = [&](const char* caption, const char* glyph, int x, int y, int width, int height) {
        buttons.push_back(std::make_unique<TAlphaButton>(*host, caption));
        TAlphaButton& button = *buttons.back();
        button.SetBounds(x, y, width, height);
        button.Glyph().LoadFromResource(GetModuleHandleW(nullptr), glyph, "BMP32");
        button.SetBorderNormalEffect(TBorderEffect::beNone);
        button.SetBorderDownEffect(TBorderEffect::beNone);
        return &button;
    };
    add("&Update", "BALL_OK", 20, 20, 81, 25);
    add("&Cancel", "BALL_CANCEL", 120, 20, 81, 25);
    add("Disabled", "BALL_OK", 220, 20, 81, 25)->SetEnabled(false);
    add("", "BALL_OK", 30, 90, 40, 40)->SetActAsImage(true);
    TAlphaButton* top = add("Top", "BALL_CANCEL", 90, 84, 70, 60);
    top->SetLayout(TButtonLayout::blGlyphTop);
    top->SetBorderNormalEffect(TBorderEffect::beOutLine);
    add("Spread", "BALL_CANCEL", 180, 100, 140, 30)->SetSpacing(-1);

    ShowWindow(window.get(), SW_SHOW);
    UpdateWindow(window.get());
    POINT over = {60, 32};
    ClientToScreen(window.get(), &over);
    SetCursorPos(over.x, over.y);
    std::printf("ready\n");
    std::fflush(stdout);

    const DWORD end = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
    MSG msg;
    while (GetTickCount() < end) {
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    buttons.clear();
    SetWindowLongPtrW(window.get(), GWLP_USERDATA, 0);
    return 0;
}
