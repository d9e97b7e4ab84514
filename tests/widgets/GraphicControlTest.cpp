// Windowless controls for everyone: the keyboard, screen readers (through
// the system's own oleacc, as a reader in this process would call it) and
// high contrast, on a real top-level window with alpha buttons and a label.
#include "widgets/AlphaButton.h"
#include "widgets/GraphicAccessible.h"
#include "widgets/HTMLabel.h"

#include "HostTestWindow.h"
#include "common/AccessibleTree.h"
#include "common/WineSupport.h"
#include "winutil/ComApartment.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

const std::string kMarkup = "<b>Version 2.0</b> is out: <a href=\"http://example.com/notes\">release notes</a> "
                            "and <a href=\"ftp://example.com/files\">files</a>";

// A top-level window with Update (default), Cancel (cancel), a disabled Skip
// and a label with two links, in that order; clicks and opened links counted.
class ControlWindow : public HostTestWindow {
public:
    ControlWindow() : HostTestWindow(WS_EX_TOPMOST, L"controls", WS_POPUP, 40, 40, 420, 200)
    {
        SetCursorPos(0, 0);
        update = Button("&Update", 10);
        cancel = Button("&Cancel", 110);
        skip = Button("&Skip", 210);
        skip->SetEnabled(false);
        host->SetDefaultControl(update.get());
        host->SetCancelControl(cancel.get());
        label = std::make_unique<THTMLabel>(*host);
        label->SetBounds(10, 60, 400, 120);
        label->SetHTMLText(kMarkup);
        THTMLabel::SetShellOpener([this](const std::string& link) { opened.push_back(link); });
        // Shown once the controls are there, as a window of the programs is.
        ShowWindow(window.get(), SW_SHOW);
        SetForegroundWindow(window.get());
        SetFocus(window.get());
        PumpMessagesFor(50);
    }
    ~ControlWindow()
    {
        THTMLabel::SetShellOpener(nullptr);
        SetHighContrastQuery(nullptr);
        label.reset();
        update.reset();
        cancel.reset();
        skip.reset();
    }

    std::unique_ptr<TAlphaButton> Button(const char* caption, int left)
    {
        auto button = std::make_unique<TAlphaButton>(*host, caption);
        button->SetCaption(caption);
        button->SetBounds(left, 10, 90, 30);
        button->OnClick = [this, caption](TAlphaButton&) { clicks.push_back(caption); };
        return button;
    }

    void Press(WORD key, bool shift = false) const
    {
        PressKey(key, shift);
        PumpMessagesFor(100);
    }

    void Repaint() const { RedrawWindow(window.get(), nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW); }

    // The colours on screen of a rectangle of the window's client area.
    std::vector<COLORREF> Pixels(const RECT& area) const
    {
        std::vector<COLORREF> pixels;
        const HDC dc = GetDC(window.get());
        for (int y = area.top; y < area.bottom; ++y)
            for (int x = area.left; x < area.right; ++x)
                pixels.push_back(GetPixel(dc, x, y));
        ReleaseDC(window.get(), dc);
        return pixels;
    }
    int Count(const RECT& area, COLORREF colour) const
    {
        int count = 0;
        for (const COLORREF pixel : Pixels(area))
            count += pixel == colour;
        return count;
    }

    std::pair<TGraphicControl*, int> Focus() const { return {host->FocusControl(), host->FocusItem()}; }

    std::unique_ptr<TAlphaButton> update, cancel, skip;
    std::unique_ptr<THTMLabel> label;
    std::vector<std::string> clicks;
    std::vector<std::string> opened;
};

RECT InWindow(const TGraphicControl& control, RECT area)
{
    OffsetRect(&area, control.Left(), control.Top());
    return area;
}

long ChildCount(IAccessible* object)
{
    long count = -1;
    object->get_accChildCount(&count);
    return count;
}

} // namespace

TEST(GraphicControls, TabEnterEscAndSpaceReachButtonsAndLinks)
{
    ControlWindow test;
    ASSERT_EQ(GetFocus(), test.window.get());
    using Focus = std::pair<TGraphicControl*, int>;
    EXPECT_EQ(test.Focus(), Focus(test.update.get(), 1)) << "the default button takes the focus first";
    ASSERT_EQ(test.label->FocusItems(), 2);

    test.Press(VK_TAB);
    EXPECT_EQ(test.Focus(), Focus(test.cancel.get(), 1));
    test.Press(VK_TAB);
    EXPECT_EQ(test.Focus(), Focus(test.label.get(), 1)) << "the disabled button is passed over";
    test.Press(VK_TAB);
    EXPECT_EQ(test.Focus(), Focus(test.label.get(), 2));
    test.Press(VK_TAB);
    EXPECT_EQ(test.Focus(), Focus(test.update.get(), 1)) << "a top-level window wraps around";
    test.Press(VK_TAB, /*shift=*/true);
    EXPECT_EQ(test.Focus(), Focus(test.label.get(), 2)) << "Shift+Tab goes back";

    // The focus is drawn around the link's runs, and only there.
    const RECT link = test.label->Links()[1].bounds;
    RECT around = InWindow(*test.label, link);
    InflateRect(&around, 3, 3);
    RECT whole = InWindow(*test.label, test.label->ClientRect());
    test.Repaint();
    const std::vector<COLORREF> focused = test.Pixels(whole);
    test.Press(VK_TAB);
    test.Repaint();
    const std::vector<COLORREF> unfocused = test.Pixels(whole);
    int changedNear = 0, changedElsewhere = 0;
    for (int y = whole.top; y < whole.bottom; ++y)
        for (int x = whole.left; x < whole.right; ++x) {
            const std::size_t at = static_cast<std::size_t>(y - whole.top) * (whole.right - whole.left) + (x - whole.left);
            const POINT point = {x, y};
            if (focused[at] != unfocused[at])
                ++(PtInRect(&around, point) ? changedNear : changedElsewhere);
        }
    EXPECT_GT(changedNear, 2 * (link.right - link.left) / 3) << "a dotted frame around the link";
    EXPECT_EQ(changedElsewhere, 0);

    // Enter: the focused button, the focused link, else the default button.
    test.Press(VK_RETURN);
    EXPECT_EQ(test.clicks, std::vector<std::string>{"&Update"});
    test.Press(VK_TAB, true);
    test.Press(VK_RETURN);
    EXPECT_EQ(test.opened, std::vector<std::string>{"ftp://example.com/files"});
    test.Press(VK_TAB);
    test.Press(VK_TAB);
    test.Press(VK_SPACE);
    EXPECT_EQ(test.clicks, (std::vector<std::string>{"&Update", "&Cancel"})) << "Space presses the focused button";
    test.Press(VK_TAB);
    test.Press(VK_ESCAPE);
    EXPECT_EQ(test.clicks.back(), "&Cancel") << "Esc presses the cancel button from a link";
    EXPECT_EQ(test.clicks.size(), 3u);

    // A button that is disabled while it has the focus hands it on.
    test.host->FocusOn(*test.update, 1);
    test.update->SetEnabled(false);
    EXPECT_EQ(test.Focus(), Focus(test.cancel.get(), 1));
    test.Press(VK_RETURN);
    EXPECT_EQ(test.clicks.back(), "&Cancel");
    EXPECT_EQ(test.clicks.size(), 4u) << "Enter presses the focused button, not the disabled default one";
}

TEST(GraphicControls, ScreenReadersFindTheButtonsTheTextAndItsLinks)
{
    const ComApartment apartment;
    ControlWindow test;
    std::vector<AccessibleNode> tree = AccessibleTreeOf(test.window.get());
    ASSERT_FALSE(tree.empty());
    EXPECT_EQ(tree[0].role, ROLE_SYSTEM_CLIENT) << "the window's client object comes first";

    const AccessibleNode* update = FindAccessible(tree, ROLE_SYSTEM_PUSHBUTTON, L"Update");
    const AccessibleNode* skip = FindAccessible(tree, ROLE_SYSTEM_PUSHBUTTON, L"Skip");
    ASSERT_TRUE(update && skip);
    EXPECT_EQ(update->name, L"Update") << "the caption without its &";
    EXPECT_EQ(update->defaultAction, L"Press");
    EXPECT_TRUE(update->state & STATE_SYSTEM_DEFAULT);
    EXPECT_TRUE(update->state & STATE_SYSTEM_FOCUSED);
    EXPECT_TRUE(skip->state & STATE_SYSTEM_UNAVAILABLE);
    BSTR shortcut = nullptr;
    update->object.get()->get_accKeyboardShortcut(update->Id(), &shortcut);
    EXPECT_STREQ(shortcut, L"Alt+U");
    SysFreeString(shortcut);

    const AccessibleNode* text = FindAccessible(tree, ROLE_SYSTEM_STATICTEXT, L"");
    ASSERT_TRUE(text);
    EXPECT_EQ(text->name, L"Version 2.0 is out: release notes and files");
    const AccessibleNode* notes = FindAccessible(tree, ROLE_SYSTEM_LINK, L"release notes");
    const AccessibleNode* files = FindAccessible(tree, ROLE_SYSTEM_LINK, L"files");
    ASSERT_TRUE(notes && files);
    EXPECT_EQ(notes->value, L"http://example.com/notes");
    EXPECT_EQ(files->value, L"ftp://example.com/files");
    EXPECT_EQ(notes->defaultAction, L"Jump");
    EXPECT_EQ(notes->child, 1);
    EXPECT_EQ(files->child, 2) << "links are simple children of the text, by index";

    // Where a link is, and what is found there.
    const RECT place = files->Location();
    RECT labelPlace = text->Location();
    EXPECT_TRUE(place.left >= labelPlace.left && place.right <= labelPlace.right && place.top >= labelPlace.top &&
                place.bottom <= labelPlace.bottom);
    EXPECT_GT(place.right - place.left, 0);
    VARIANT hit;
    VariantInit(&hit);
    ASSERT_EQ(text->object.get()->accHitTest((place.left + place.right) / 2, (place.top + place.bottom) / 2, &hit), S_OK);
    EXPECT_EQ(hit.vt, VT_I4);
    EXPECT_EQ(hit.lVal, 2);
    ASSERT_EQ(tree[0].object.get()->accHitTest((place.left + place.right) / 2, (place.top + place.bottom) / 2, &hit), S_OK);
    EXPECT_EQ(hit.vt, VT_DISPATCH) << "the window's object answers with the label's";
    VariantClear(&hit);

    // Actions run from the message loop; taking the focus moves it.
    EXPECT_EQ(update->object.get()->accDoDefaultAction(update->Id()), S_OK);
    EXPECT_EQ(files->object.get()->accDoDefaultAction(files->Id()), S_OK);
    EXPECT_NE(skip->object.get()->accDoDefaultAction(skip->Id()), S_OK) << "a disabled button has no action";
    PumpMessagesFor(100);
    EXPECT_EQ(test.clicks, std::vector<std::string>{"&Update"});
    EXPECT_EQ(test.opened, std::vector<std::string>{"ftp://example.com/files"});
    EXPECT_EQ(notes->object.get()->accSelect(SELFLAG_TAKEFOCUS, notes->Id()), S_OK);
    EXPECT_EQ(test.host->FocusControl(), test.label.get());
    VARIANT focus;
    VariantInit(&focus);
    ASSERT_EQ(notes->object.get()->get_accFocus(&focus), S_OK);
    EXPECT_EQ(focus.vt, VT_I4);
    EXPECT_EQ(focus.lVal, 1);
    tree = AccessibleTreeOf(test.window.get());
    EXPECT_TRUE(FindAccessible(tree, ROLE_SYSTEM_LINK, L"release notes")->state & STATE_SYSTEM_FOCUSED);

    // A focus event names the control's own object id: the reader finds the link from it.
    IAccessible* fromEvent = nullptr;
    VARIANT child;
    VariantInit(&child);
    ASSERT_EQ(AccessibleObjectFromEvent(test.window.get(), static_cast<DWORD>(test.label->AccessibleId()), 1,
                                        &fromEvent, &child),
              S_OK);
    BSTR name = nullptr;
    fromEvent->get_accName(child, &name);
    EXPECT_STREQ(name, L"release notes");
    SysFreeString(name);
    fromEvent->Release();
}

TEST(GraphicControls, ObjectsThatOutliveTheirControlsAreCutOff)
{
    const ComApartment apartment;
    const long before = AccessibleObjectBase::LiveObjects();
    {
        auto test = std::make_unique<ControlWindow>();
        std::vector<AccessibleNode> tree = AccessibleTreeOf(test->window.get());
        const AccessibleNode* cancel = FindAccessible(tree, ROLE_SYSTEM_PUSHBUTTON, L"Cancel");
        const AccessibleNode* link = FindAccessible(tree, ROLE_SYSTEM_LINK, L"files");
        ASSERT_TRUE(cancel && link);
        const VARIANT linkId = link->Id();
        UniqueCom<IAccessible> button(cancel->object.get());
        button.get()->AddRef();
        UniqueCom<IAccessible> label(link->object.get());
        label.get()->AddRef();
        UniqueCom<IAccessible> client(tree[0].object.get());
        client.get()->AddRef();
        tree.clear();

        test->cancel.reset();
        test->label.reset();
        BSTR name = nullptr;
        VARIANT self;
        VariantInit(&self);
        self.vt = VT_I4;
        self.lVal = CHILDID_SELF;
        EXPECT_EQ(button.get()->get_accName(self, &name), CO_E_OBJNOTCONNECTED);
        EXPECT_EQ(name, nullptr);
        EXPECT_EQ(label.get()->accDoDefaultAction(linkId), CO_E_OBJNOTCONNECTED);
        long count = 5;
        EXPECT_EQ(label.get()->get_accChildCount(&count), CO_E_OBJNOTCONNECTED);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(ChildCount(client.get()), 2) << "the window lists the controls left";

        test.reset();
        EXPECT_EQ(client.get()->get_accChildCount(&count), CO_E_OBJNOTCONNECTED) << "the host is gone too";
        PumpMessagesFor(50);
    }
    EXPECT_EQ(AccessibleObjectBase::LiveObjects(), before) << "every object freed with its last reference";
}

TEST(GraphicControls, ThousandsOfLinksStayBoundedAndAnswerByIndex)
{
    const ComApartment apartment;
    ControlWindow test;
    std::string markup;
    for (int i = 0; i < 10000; ++i)
        markup += "<a href=\"http://example.com/" + std::to_string(i) + "\">link " + std::to_string(i) + "</a> ";
    test.label->SetAutoSizing(true);
    test.label->SetHTMLText(markup);
    test.Repaint();
    ASSERT_GT(test.label->Height(), 1000) << "the label took the text's height";

    IAccessible* object = test.label->NewAccessibleReference();
    const long before = AccessibleObjectBase::LiveObjects();
    EXPECT_EQ(ChildCount(object), THTMLabel::kMaxLinkItems) << "bounded";
    std::vector<VARIANT> children(THTMLabel::kMaxLinkItems);
    long got = 0;
    ASSERT_EQ(AccessibleChildren(object, 0, THTMLabel::kMaxLinkItems, children.data(), &got), S_OK);
    EXPECT_EQ(got, THTMLabel::kMaxLinkItems);
    int simple = 0;
    for (VARIANT& child : children) {
        simple += child.vt == VT_I4;
        VariantClear(&child);
    }
    EXPECT_EQ(simple, THTMLabel::kMaxLinkItems) << "simple children: no object each";
    VARIANT last;
    VariantInit(&last);
    last.vt = VT_I4;
    last.lVal = THTMLabel::kMaxLinkItems;
    BSTR name = nullptr, value = nullptr;
    EXPECT_EQ(object->get_accName(last, &name), S_OK);
    EXPECT_EQ(object->get_accValue(last, &value), S_OK);
    EXPECT_STREQ(name, L"link 4095");
    EXPECT_STREQ(value, L"http://example.com/4095");
    SysFreeString(name);
    SysFreeString(value);
    last.lVal = THTMLabel::kMaxLinkItems + 1;
    EXPECT_EQ(object->get_accName(last, &name), E_INVALIDARG);
    IDispatch* none = nullptr;
    last.lVal = 17;
    EXPECT_EQ(object->get_accChild(last, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(AccessibleObjectBase::LiveObjects(), before) << "answering made no objects";
    object->Release();

    // Tab reaches the last of them and moves on.
    EXPECT_TRUE(test.host->FocusOn(*test.label, THTMLabel::kMaxLinkItems));
    test.Press(VK_TAB);
    EXPECT_EQ(test.host->FocusControl(), test.update.get());
}

TEST(GraphicControls, HighContrastDrawsInTheSystemsColours)
{
    ControlWindow test;
    const COLORREF buttonText = RGB(0, 160, 0), hotLight = RGB(160, 0, 160);
    const SystemColoursScope colours({{COLOR_BTNTEXT, buttonText}, {COLOR_HOTLIGHT, hotLight}});
    // Underlined: a line in the text's own colour whether or not the font is smoothed.
    test.label->SetHTMLText("<font color=\"clRed\"><u>red</u></font> <a href=\"x\">link</a>");
    test.label->SetURLColor(clBlue);
    test.update->SetBorderNormalEffect(TBorderEffect::beCool);
    test.host->FocusOn(*test.cancel, 1);
    const RECT button = InWindow(*test.update, test.update->ClientRect());
    const RECT label = InWindow(*test.label, test.label->ClientRect());
    const auto corner = [&] { return test.Pixels({button.left, button.top, button.left + 1, button.top + 1})[0]; };

    test.Repaint();
    EXPECT_GT(test.Count(button, buttonText), 10) << "captions in the button-text colour, not black";
    EXPECT_EQ(corner(), RGB(0, 0, 0)) << "hover marks stay black on the face";
    EXPECT_GT(test.Count(label, RGB(255, 0, 0)), 10) << "the markup's colour";
    EXPECT_GT(test.Count(label, RGB(0, 0, 255)), 10) << "the label's link colour";

    SetHighContrastQuery([] { return true; });
    SendMessageW(test.window.get(), WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
    UpdateWindow(test.window.get());
    EXPECT_GT(test.Count(button, buttonText), 10);
    EXPECT_EQ(corner(), buttonText) << "the marks take the button text's colour";
    EXPECT_EQ(test.Count(label, RGB(255, 0, 0)), 0) << "markup colours are left out";
    EXPECT_EQ(test.Count(label, RGB(0, 0, 255)), 0);
    EXPECT_GT(test.Count(label, hotLight), 10) << "links in the hot-light colour";
    EXPECT_GT(test.Count(label, buttonText), 10) << "the red text in the button text's colour";
}
