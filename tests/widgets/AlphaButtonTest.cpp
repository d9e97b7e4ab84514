#include "widgets/AlphaButton.h"

#include "HostTestWindow.h"
#include "common/WineSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

namespace {

// The parent paints two colours, split at this x, so a glyph shows which one lies behind it.
constexpr int kSplitX = 70;
constexpr COLORREF kLeftColour = RGB(0, 0, 200);
constexpr COLORREF kRightColour = RGB(200, 200, 0);
constexpr COLORREF kSiblingColour = RGB(0, 160, 0);
constexpr int kButtonX = 20, kButtonY = 20;

void EraseTwoColours(HWND window, HDC dc)
{
    RECT client = {};
    GetClientRect(window, &client);
    RECT left = client, right = client;
    left.right = right.left = kSplitX;
    const UniqueGdiObject leftBrush(CreateSolidBrush(kLeftColour)), rightBrush(CreateSolidBrush(kRightColour));
    FillRect(dc, &left, static_cast<HBRUSH>(leftBrush.get()));
    FillRect(dc, &right, static_cast<HBRUSH>(rightBrush.get()));
}

// A windowless control that fills itself with one colour.
class SolidControl : public TGraphicControl {
public:
    using TGraphicControl::TGraphicControl;
    void Paint(HDC dc) override
    {
        const UniqueGdiObject brush(CreateSolidBrush(kSiblingColour));
        const RECT client = ClientRect();
        FillRect(dc, &client, static_cast<HBRUSH>(brush.get()));
    }
};

Image32 FilledGlyph(Pixel32 pixel)
{
    return {24, 24, std::vector<Pixel32>(24 * 24, pixel)};
}

Pixel32 FromColour(COLORREF colour)
{
    return MakePixel(GetBValue(colour), GetGValue(colour), GetRValue(colour), 0);
}

COLORREF ToColour(Pixel32 pixel)
{
    return RGB(PixelByte(pixel, 2), PixelByte(pixel, 1), PixelByte(pixel, 0));
}

// Away from where the window will be, whatever the last test left there,
// before the window is made.
struct CursorAway {
    CursorAway() { SetCursorPos(0, 0); }
};

// A real top-level window with one button at 20,20, 100 by 40.
class ButtonWindow : private CursorAway, public HostTestWindow {
public:
    ButtonWindow()
        : HostTestWindow(WS_EX_TOPMOST, L"alpha button test", WS_POPUP | WS_VISIBLE, 50, 50, 400, 300, EraseTwoColours)
    {
        button = std::make_unique<TAlphaButton>(*host, "Button1");
        button->SetBounds(kButtonX, kButtonY, 100, 40);
        PumpMessagesFor(50);
    }
    ~ButtonWindow()
    {
        button.reset();
        sibling.reset();
        TAlphaButton::SetSoundPlayer(nullptr);
    }

    void Repaint() const { RedrawWindow(window.get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW); }
    // A point in the button's coordinates, as the parent sees it.
    void Send(UINT message, int x, int y) const
    {
        const WPARAM keys = message == WM_LBUTTONDOWN || message == WM_LBUTTONDBLCLK ? MK_LBUTTON : 0;
        SendMessageW(window.get(), message, keys, MAKELPARAM(kButtonX + x, kButtonY + y));
    }
    // Puts the real cursor there too, so that the button finds what lies under it.
    void MoveTo(int x, int y) const
    {
        POINT screen = {kButtonX + x, kButtonY + y};
        ClientToScreen(window.get(), &screen);
        SetCursorPos(screen.x, screen.y);
        Send(WM_MOUSEMOVE, x, y);
    }
    void Press(int x, int y) const { Send(WM_LBUTTONDOWN, x, y); }
    void Release(int x, int y) const { Send(WM_LBUTTONUP, x, y); }
    // The colour on screen at a point in the button's coordinates.
    COLORREF At(int x, int y) const
    {
        const HDC dc = GetDC(window.get());
        const COLORREF colour = GetPixel(dc, kButtonX + x, kButtonY + y);
        ReleaseDC(window.get(), dc);
        return colour;
    }
    int CountColour(COLORREF colour) const
    {
        int count = 0;
        for (int y = 0; y < button->Height(); ++y)
            for (int x = 0; x < button->Width(); ++x)
                count += At(x, y) == colour;
        return count;
    }

    std::unique_ptr<SolidControl> sibling;
    std::unique_ptr<TAlphaButton> button;
};

class AlphaButtonTest : public ::testing::Test {};

} // namespace

TEST_F(AlphaButtonTest, DefaultsAndRefusedMargin)
{
    ButtonWindow test;
    TAlphaButton fresh(*test.host, "AlphaButton7");
    EXPECT_EQ(fresh.Width(), 75);
    EXPECT_EQ(fresh.Height(), 25);
    EXPECT_EQ(fresh.Caption(), "AlphaButton7");
    EXPECT_EQ(fresh.Margin(), -1);
    EXPECT_EQ(fresh.Spacing(), 4);
    EXPECT_TRUE(fresh.Transparent());
    EXPECT_EQ(fresh.Color(), clBtnFace);
    EXPECT_EQ(fresh.BorderNormalEffect(), TBorderEffect::beOutLine);
    EXPECT_EQ(fresh.BorderHoverEffect(), TBorderEffect::beCool);
    EXPECT_EQ(fresh.BorderDownEffect(), TBorderEffect::beOutLine);
    EXPECT_FALSE(fresh.SoundEffect());
    EXPECT_EQ(fresh.BGAlphaBlendValue(), 255);
    EXPECT_EQ(fresh.State(), TButtonState::bsUp);
    fresh.SetMargin(3);
    fresh.SetMargin(-2);
    EXPECT_EQ(fresh.Margin(), 3);
    fresh.SetMargin(-1);
    EXPECT_EQ(fresh.Margin(), -1);
}

TEST_F(AlphaButtonTest, GlyphEdgesShowTheParentAndTheControlsBelow)
{
    ButtonWindow test;
    // Created before the button, so it lies below it; it covers the glyph's lower rows.
    test.button.reset();
    test.sibling = std::make_unique<SolidControl>(*test.host);
    test.sibling->SetBounds(0, kButtonY + 8 + 16, 300, 100);
    test.button = std::make_unique<TAlphaButton>(*test.host, "");
    test.button->SetBounds(kButtonX, kButtonY, 100, 40);
    test.button->SetActAsImage(true);
    const Pixel32 glyph = MakePixel(0, 0, 255, 128);
    test.button->SetGlyph(FilledGlyph(glyph));
    test.Repaint();

    const AlphaLayoutResult at = test.button->CurrentLayout();
    ASSERT_EQ(at.glyphX, 38);
    ASSERT_EQ(at.glyphY, 8);
    // Over the parent's left colour, its right colour and the sibling below.
    EXPECT_EQ(test.At(40, 10), ToColour(BlendPixel(glyph, FromColour(kLeftColour))));
    EXPECT_EQ(test.At(55, 10), ToColour(BlendPixel(glyph, FromColour(kRightColour))));
    EXPECT_EQ(test.At(40, 30), ToColour(BlendPixel(glyph, FromColour(kSiblingColour))));
    // Beside the glyph the transparent button leaves the background as it is.
    EXPECT_EQ(test.At(5, 5), kLeftColour);
    EXPECT_EQ(test.At(90, 5), kRightColour);

    test.button->SetEnabled(false);
    test.Repaint();
    EXPECT_EQ(test.At(40, 10), ToColour(BlendPixel(GreyPixel(glyph), FromColour(kLeftColour))));
    EXPECT_EQ(test.At(55, 10), ToColour(BlendPixel(GreyPixel(glyph), FromColour(kRightColour))));
}

TEST_F(AlphaButtonTest, ButtonsFromResourcesAndBitmaps)
{
    TAlphaGlyph glyph;
    glyph.LoadFromResource(GetModuleHandleW(nullptr), "BALL_TEST", "BMP32");
    ASSERT_EQ(glyph.Image().width, 24);
    ASSERT_EQ(glyph.Image().height, 24);
    EXPECT_EQ(AlphaOf(glyph.Image().At(0, 0)), 0);
    EXPECT_EQ(AlphaOf(glyph.Image().At(12, 12)), 255);
    EXPECT_EQ(glyph.GreyImage().At(12, 12), GreyPixel(glyph.Image().At(12, 12)));
    try {
        glyph.LoadFromResource(GetModuleHandleW(nullptr), "NO_SUCH_GLYPH", "BMP32");
        ADD_FAILURE() << "a missing resource was loaded";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "resource \"NO_SUCH_GLYPH\" of type \"BMP32\" not found");
    }
    EXPECT_EQ(glyph.Image().width, 24);

    // A bitmap handle at 32 bits keeps its alpha; one of 24 bits gets alpha 0.
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = 2;
    info.bmiHeader.biHeight = -2;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const UniqueGdiObject bitmap(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    ASSERT_TRUE(bitmap);
    const Pixel32 pixels[4] = {MakePixel(1, 2, 3, 4), MakePixel(5, 6, 7, 8), MakePixel(9, 9, 9, 9), 0};
    std::memcpy(bits, pixels, sizeof pixels);
    ASSERT_TRUE(glyph.Assign(static_cast<HBITMAP>(bitmap.get())));
    EXPECT_EQ(glyph.Image().width, 2);
    EXPECT_EQ(glyph.Image().At(1, 0), MakePixel(5, 6, 7, 8));
    EXPECT_EQ(glyph.Image().At(0, 1), MakePixel(9, 9, 9, 9));
    EXPECT_FALSE(glyph.Assign(nullptr));
    EXPECT_EQ(glyph.Image().width, 2);
}

TEST_F(AlphaButtonTest, BordersFollowHoverAndDisabledButtonsAreEmbossed)
{
    ButtonWindow test;
    test.button->SetCaption("");
    test.Repaint();
    // Not hot: the outline frame.
    EXPECT_NE(test.At(0, 0), kLeftColour);
    EXPECT_NE(test.At(30, 0), kLeftColour);
    EXPECT_NE(test.At(30, 39), kLeftColour);

    test.MoveTo(30, 20);
    ASSERT_TRUE(test.button->Hot());
    test.Repaint();
    // Hot: corner marks of min(100, 40) / 6 = 6 pixels and nothing between them.
    EXPECT_EQ(test.At(0, 0), RGB(0, 0, 0));
    EXPECT_EQ(test.At(5, 0), RGB(0, 0, 0));
    EXPECT_EQ(test.At(0, 5), RGB(0, 0, 0));
    EXPECT_EQ(test.At(6, 0), kLeftColour);
    EXPECT_EQ(test.At(30, 0), kLeftColour);
    EXPECT_EQ(test.At(99, 39), RGB(0, 0, 0));
    EXPECT_EQ(test.At(94, 39), RGB(0, 0, 0));
    EXPECT_EQ(test.At(93, 39), kRightColour);

    // Disabled: no border, the caption once in highlight and once in shadow.
    test.button->SetCaption("Disabled");
    test.button->SetEnabled(false);
    EXPECT_FALSE(test.button->Hot());
    EXPECT_EQ(test.button->State(), TButtonState::bsDisabled);
    test.Repaint();
    EXPECT_EQ(test.At(0, 0), kLeftColour);
    EXPECT_EQ(test.At(99, 39), kRightColour);
    EXPECT_GT(test.CountColour(GetSysColor(COLOR_BTNSHADOW)), 10);
    // The highlight copy shows only where the shadow copy, a pixel up and
    // left, leaves it: a handful of pixels, how many depending on how the
    // prefix draws the caption's font (a link to the CJK font changes it).
    EXPECT_GT(test.CountColour(GetSysColor(COLOR_BTNHIGHLIGHT)), 3);

    test.button->SetEnabled(true);
    EXPECT_EQ(test.button->State(), TButtonState::bsUp);
    EXPECT_TRUE(test.button->Hot()) << "the cursor is still over the button";
    test.button->SetActAsImage(true);
    test.Repaint();
    EXPECT_EQ(test.At(0, 0), kLeftColour);
}

TEST_F(AlphaButtonTest, PressAndReleaseInsideClicksOutsideDoesNot)
{
    ButtonWindow test;
    int clicks = 0, doubles = 0;
    test.button->OnClick = [&](TAlphaButton&) { ++clicks; };
    test.button->OnDblClick = [&](TAlphaButton&) { ++doubles; };
    test.MoveTo(10, 10);
    test.Press(10, 10);
    EXPECT_EQ(test.button->State(), TButtonState::bsDown);
    EXPECT_TRUE(test.button->Tracking());
    EXPECT_EQ(test.host->CaptureControl(), test.button.get());
    EXPECT_EQ(GetCapture(), test.window.get());
    const AlphaLayoutResult pressed = test.button->CurrentLayout();
    test.Release(10, 10);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(test.button->State(), TButtonState::bsUp);
    EXPECT_FALSE(test.button->Tracking());
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_TRUE(test.button->Hot());
    const AlphaLayoutResult released = test.button->CurrentLayout();
    EXPECT_EQ(pressed.textX, released.textX + 1);
    EXPECT_EQ(pressed.textY, released.textY + 1);

    // Dragged out, the button comes up; back in, down again; released outside: no click.
    test.Press(10, 10);
    test.Send(WM_MOUSEMOVE, 100, 10);
    EXPECT_EQ(test.button->State(), TButtonState::bsUp);
    test.Send(WM_MOUSEMOVE, 99, 40);
    EXPECT_EQ(test.button->State(), TButtonState::bsDown) << "the bottom edge still counts";
    test.Send(WM_MOUSEMOVE, 10, 41);
    EXPECT_EQ(test.button->State(), TButtonState::bsUp);
    test.Release(200, 200);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(test.button->Tracking());

    test.Press(10, 10);
    test.Release(10, 40);
    EXPECT_EQ(clicks, 2) << "a release on the bottom edge clicks";

    test.Press(10, 10);
    test.Release(10, 10);
    test.Send(WM_LBUTTONDBLCLK, 10, 10);
    test.Release(10, 10);
    EXPECT_EQ(clicks, 4);
    EXPECT_EQ(doubles, 1);

    // A right press neither presses nor clicks.
    test.Send(WM_RBUTTONDOWN, 10, 10);
    test.Send(WM_RBUTTONUP, 10, 10);
    EXPECT_EQ(test.button->State(), TButtonState::bsUp);
    EXPECT_EQ(clicks, 4);

    test.button->SetEnabled(false);
    test.Press(10, 10);
    test.Release(10, 10);
    EXPECT_EQ(clicks, 4);
    EXPECT_EQ(test.host->CaptureControl(), nullptr);
}

TEST_F(AlphaButtonTest, HoverFollowsEnterAndLeave)
{
    ButtonWindow test;
    test.MoveTo(10, 10);
    EXPECT_TRUE(test.button->Hot());
    test.MoveTo(150, 150);
    EXPECT_FALSE(test.button->Hot());

    // Leaving while pressed keeps it hot until the release.
    test.MoveTo(10, 10);
    test.Press(10, 10);
    test.MoveTo(150, 150);
    EXPECT_TRUE(test.button->Hot());
    test.Release(150, 150);
    EXPECT_FALSE(test.button->Hot());
    EXPECT_EQ(test.button->State(), TButtonState::bsUp);

    test.button->SetEnabled(false);
    test.MoveTo(10, 10);
    EXPECT_FALSE(test.button->Hot());
}

TEST_F(AlphaButtonTest, SoundsArePlayedOnlyWhenSwitchedOnAndNeverNeeded)
{
    ButtonWindow test;
    std::vector<std::string> played;
    TAlphaButton::SetSoundPlayer([&](const char* name) { played.emplace_back(name); });
    test.MoveTo(10, 10);
    test.Press(10, 10);
    test.Release(10, 10);
    EXPECT_TRUE(played.empty());

    test.MoveTo(150, 150);
    test.button->SetSoundEffect(true);
    test.MoveTo(10, 10);
    test.Press(10, 10);
    test.Release(10, 10);
    // The release over the button runs the enter handling again.
    EXPECT_EQ(played, (std::vector<std::string>{"M_OVER", "M_CLICK", "M_OVER"}));

    // The system's player: without a sound device it fails, and the button works on.
    TAlphaButton::SetSoundPlayer(nullptr);
    int clicks = 0;
    test.button->OnClick = [&](TAlphaButton&) { ++clicks; };
    test.MoveTo(150, 150);
    test.MoveTo(10, 10);
    test.Press(10, 10);
    test.Release(10, 10);
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(test.button->Hot());
}

TEST_F(AlphaButtonTest, AcceleratorClicksOnlyUsableButtons)
{
    ButtonWindow test;
    int clicks = 0;
    test.button->OnClick = [&](TAlphaButton&) { ++clicks; };
    test.button->SetCaption("&Update");
    SendMessageW(test.window.get(), WM_CHAR, 'u', 0);
    SendMessageW(test.window.get(), WM_SYSCHAR, 'U', 0);
    SendMessageW(test.window.get(), WM_CHAR, 'p', 0);
    EXPECT_EQ(clicks, 2);
    test.button->SetEnabled(false);
    SendMessageW(test.window.get(), WM_CHAR, 'u', 0);
    test.button->SetEnabled(true);
    test.button->SetVisible(false);
    SendMessageW(test.window.get(), WM_CHAR, 'u', 0);
    test.button->SetVisible(true);
    ShowWindow(test.window.get(), SW_HIDE);
    SendMessageW(test.window.get(), WM_CHAR, 'u', 0);
    EXPECT_EQ(clicks, 2);
}

TEST_F(AlphaButtonTest, CaptionsInAnyScriptShowAndTheirAcceleratorsWork)
{
    ButtonWindow test;
    int clicks = 0;
    test.button->OnClick = [&](TAlphaButton&) { ++clicks; };
    test.button->SetCaption("&\u0414\u0430");
    SendMessageW(test.window.get(), WM_CHAR, L'\u0434', 0);
    SendMessageW(test.window.get(), WM_CHAR, L'\u0414', 0);
    SendMessageW(test.window.get(), WM_CHAR, L'\u0430', 0);
    SendMessageW(test.window.get(), WM_CHAR, L'D', 0);
    EXPECT_EQ(clicks, 2) << "a Cyrillic accelerator in either case, and nothing else";

    // What shows: the caption in UTF-8 against what a narrow call would have made of it.
    test.button->SetTransparent(false);
    const auto drawn = [&](const std::string& caption) {
        test.button->SetCaption(caption);
        const MemoryBitmap bitmap(100, 40);
        test.button->Paint(bitmap.dc());
        std::string pixels;
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 100; ++x)
                pixels += GetPixel(bitmap.dc(), x, y) == GetPixel(bitmap.dc(), 50, 3) ? '.' : '#';
        return pixels;
    };
    const std::string russian = drawn("\u041E\u0431\u043D\u043E\u0432\u0438\u0442\u044C");
    EXPECT_NE(russian.find('#'), std::string::npos);
    EXPECT_NE(russian, drawn("????????"));
    EXPECT_NE(russian, drawn("\u00D0\u017E\u00D0\u00B1\u00D0\u00BD\u00D0\u00BE"))
        << "nor what a narrow call on code page 1252 made of its bytes";
}

TEST_F(AlphaButtonTest, AClickHandlerMayDestroyTheButton)
{
    ButtonWindow test;
    bool clicked = false;
    test.button->OnClick = [&](TAlphaButton&) {
        clicked = true;
        test.button.reset();
    };
    test.MoveTo(10, 10);
    test.Press(10, 10);
    test.Release(10, 10);
    EXPECT_TRUE(clicked);
    EXPECT_EQ(test.host->CaptureControl(), nullptr);
    test.MoveTo(20, 20);
    test.Repaint();
}

TEST_F(AlphaButtonTest, LosingTheCaptureEndsThePress)
{
    ButtonWindow test;
    int clicks = 0;
    test.button->OnClick = [&](TAlphaButton&) { ++clicks; };
    test.MoveTo(10, 10);
    test.Press(10, 10);
    UniqueWindow other(CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr));
    SetCapture(other.get());
    EXPECT_FALSE(test.button->Tracking());
    EXPECT_EQ(test.button->State(), TButtonState::bsUp);
    ReleaseCapture();
    test.Release(10, 10);
    EXPECT_EQ(clicks, 0);
}

TEST_F(AlphaButtonTest, ManyPaintsInEveryStateLeakNoGdiObjects)
{
    ButtonWindow test;
    test.button->SetGlyph(FilledGlyph(MakePixel(10, 20, 30, 100)));
    test.button->SetTransparent(false);
    test.Repaint();
    test.MoveTo(10, 10);
    test.Repaint();
    const int before = CountGdiObjects();
    ASSERT_GT(before, 0);
    for (int i = 0; i < 300; ++i) {
        test.Repaint();
        test.Press(10, 10);
        test.Repaint();
        test.Release(10, 10);
        test.button->SetEnabled(i % 2 == 0);
        test.Repaint();
    }
    EXPECT_LE(CountGdiObjects(), before + 2);
}
