#include "update/auUpgraderDialogs.h"
#include "update/auAutoUpgrader.h"
#include "update/auUpgraderTexts.h"
#include "common/AccessibleTree.h"
#include "common/AppMessages.h"
#include "common/WineSupport.h"
#include "winutil/ComApartment.h"
#include "widgets/HTMLabel.h"
#include "winutil/RegKey.h"
#include "winutil/WideText.h"

#include "HttpTestServer.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

// What the answering timer saw of the dialog it answered, and what it does.
struct Answerer {
    int command = IDOK;
    std::vector<std::wstring> editTexts;
    // Client points clicked and buttons pressed before the answer.
    std::vector<POINT> clicks;
    std::vector<int> presses;
    std::wstring caption;
    RECT bounds{};
    RECT yesButton{};
    bool scrolls = false;
    int clientHeight = 0;
    // Wheel deltas sent before the answer, and the scroll position after them.
    std::vector<short> wheel;
    int scrollPosition = 0;
    std::vector<std::wstring> controls;
    bool answered = false;
    // The ask dialog's message area, '#' for ink, when asked for.
    bool captureMessage = false;
    std::string messagePixels;
    // Looks at the open dialog before it is answered.
    std::function<void(HWND dialog)> inspect;
};
Answerer answerer;

BOOL CALLBACK CollectChild(HWND child, LPARAM)
{
    wchar_t className[32] = {};
    GetClassNameW(child, className, 32);
    if (lstrcmpiW(className, L"Edit") == 0 && !answerer.editTexts.empty()) {
        SetWindowTextW(child, answerer.editTexts.front().c_str());
        answerer.editTexts.erase(answerer.editTexts.begin());
    }
    answerer.controls.push_back(WindowTextOf(child));
    return TRUE;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found)
{
    wchar_t className[32] = {};
    GetClassNameW(window, className, 32);
    if (!IsWindowVisible(window) || lstrcmpW(className, L"#32770") != 0)
        return TRUE;
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// What the ask dialog shows of the release message: the label's area above
// the buttons as painted, '#' where it is not the background.
std::string MessagePixels(HWND dialog)
{
    UpdateWindow(dialog);
    RECT client{};
    GetClientRect(dialog, &client);
    const HDC dc = GetDC(dialog);
    const COLORREF background = GetSysColor(COLOR_BTNFACE);
    std::string pixels;
    for (int y = 14; y < client.bottom - 45; ++y)
        for (int x = 42; x < 42 + 263; ++x)
            pixels += GetPixel(dc, x, y) == background ? '.' : '#';
    ReleaseDC(dialog, dc);
    return pixels;
}

void CALLBACK Answer(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog)
        return;
    KillTimer(nullptr, id);
    if (answerer.inspect)
        answerer.inspect(dialog);
    if (answerer.captureMessage)
        answerer.messagePixels = MessagePixels(dialog);
    answerer.caption = WindowTextOf(dialog);
    GetWindowRect(dialog, &answerer.bounds);
    GetWindowRect(GetDlgItem(dialog, IDYES), &answerer.yesButton);
    answerer.scrolls = (GetWindowLongPtrW(dialog, GWL_STYLE) & WS_VSCROLL) != 0;
    for (const short delta : answerer.wheel)
        SendMessageW(dialog, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), 0);
    answerer.scrollPosition = GetScrollPos(dialog, SB_VERT);
    RECT client{};
    GetClientRect(dialog, &client);
    answerer.clientHeight = client.bottom;
    EnumChildWindows(dialog, CollectChild, 0);
    answerer.answered = true;
    // A click goes to the window under it, as the system's would.
    for (POINT at : answerer.clicks) {
        const HWND target = ChildWindowFromPointEx(dialog, at, CWP_SKIPINVISIBLE);
        MapWindowPoints(dialog, target, &at, 1);
        PostMessageW(target, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
        PostMessageW(target, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
    }
    for (const int id : answerer.presses)
        PostMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(id), 0);
    PostMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(answerer.command), 0);
}

void AnswerNextDialog(int command, std::vector<std::wstring> editTexts = {}, std::vector<POINT> clicks = {},
                      std::vector<int> presses = {})
{
    answerer = Answerer();
    answerer.command = command;
    answerer.editTexts = std::move(editTexts);
    answerer.clicks = std::move(clicks);
    answerer.presses = std::move(presses);
    SetTimer(nullptr, 0, 100, Answer);
}

bool VisibleAskDialog()
{
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    return dialog != nullptr;
}

bool Saw(const std::wstring& text)
{
    for (const std::wstring& control : answerer.controls)
        if (control.find(text) != std::wstring::npos)
            return true;
    return false;
}

TEST(UpgraderDialogs, AskDialogInRussianWithMarkupAndMoreInfo)
{
    SelectUpgraderLanguage(wlRussian);
    const TauUpgraderPrompts prompts = DefaultUpgraderPrompts();
    std::vector<std::string> opened;
    THTMLabel::SetShellOpener([&](const std::string& link) { opened.push_back(link); });
    std::vector<std::string> hooks;
    TauMoreInfo moreInfo;
    moreInfo.Preload = [&](const std::string& url) {
        hooks.push_back((VisibleAskDialog() ? "preload while asking " : "preload before asking ") + url);
        throw std::runtime_error("no page");
    };
    moreInfo.Show = [&](const std::string& url) { hooks.push_back("show " + url); };
    std::vector<std::string> reports;
    SetErrorHandler([&](const std::string& message) { reports.push_back(message); });
    // The release message's link lies at the label's top left (42, 14).
    AnswerNextDialog(IDYES, {}, {{46, 20}}, {100});
    EXPECT_TRUE(prompts.AskUpgrade("<a href=\"http://example.com/notes\">NOTESNOTES</a> <b>is out</b>",
                                   "http://example.com/new.html", moreInfo))
        << "a failed preload does not stop the question";
    EXPECT_EQ(reports, std::vector<std::string>{"no page"}) << "but is reported";
    ASSERT_TRUE(answerer.answered);
    EXPECT_EQ(answerer.caption, UpgraderText(umsgCaption));
    EXPECT_TRUE(Saw(UpgraderText(umsgYes)));
    EXPECT_TRUE(Saw(UpgraderText(umsgLater)));
    EXPECT_TRUE(Saw(L"More Info"));
    EXPECT_FALSE(Saw(L"<b>")) << "the markup is drawn, not shown as text";
    EXPECT_EQ(opened, std::vector<std::string>{"http://example.com/notes"}) << "the label's link";
    EXPECT_EQ(hooks, (std::vector<std::string>{"preload while asking http://example.com/new.html",
                                               "show http://example.com/new.html"}));

    hooks.clear();
    AnswerNextDialog(IDNO);
    EXPECT_FALSE(prompts.AskUpgrade("", "", moreInfo));
    EXPECT_FALSE(Saw(L"More Info")) << "no address, no button";
    EXPECT_TRUE(hooks.empty()) << "nothing to preload";
    THTMLabel::SetShellOpener(nullptr);
    SetErrorHandler(nullptr);
    SelectUpgraderLanguage(wlEnglish);
}

TEST(UpgraderDialogs, LongMessageStaysOnTheScreen)
{
    const TauUpgraderPrompts prompts = DefaultUpgraderPrompts();
    std::string longMessage;
    for (int i = 0; i < 400; ++i)
        longMessage += "line " + std::to_string(i) + "<br>\r\n";
    AnswerNextDialog(IDNO);
    // A precision touchpad: deltas of a third of a notch, then a wheel notch, then back.
    answerer.wheel = {-40, -40, -40, -120, 40};
    prompts.AskUpgrade(longMessage, "", {});
    ASSERT_TRUE(answerer.answered);
    const RECT seen = answerer.bounds;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_GT(seen.bottom - seen.top, 132);
    EXPECT_LE(seen.bottom - seen.top, work.bottom - work.top);
    EXPECT_TRUE(answerer.scrolls) << "the rest of the message scrolls";
    EXPECT_EQ(answerer.scrollPosition, 3 * 13 + 3 * 13 - 13) << "each third of a notch scrolls a third of three lines";
    EXPECT_LE(answerer.yesButton.bottom, seen.bottom) << "the buttons stay in the dialog";

    AnswerNextDialog(IDNO);
    prompts.AskUpgrade("short", "", {});
    EXPECT_FALSE(answerer.scrolls);
    EXPECT_EQ(answerer.clientHeight, 132) << "a message of one line keeps the dialog's height";
}

TEST(UpgraderDialogs, PasswordDialogInChineseAndErrorBox)
{
    SelectUpgraderLanguage(wlChineseSimplified);
    const TauUpgraderPrompts prompts = DefaultUpgraderPrompts();
    std::string user = "old";
    std::string password;
    AnswerNextDialog(IDOK, {L"alice", L"s3cret"});
    EXPECT_TRUE(prompts.AskPassword(UpgraderText(umsgPasswordProtected, {L"setup.exe"}), user, password));
    EXPECT_EQ(answerer.caption, UpgraderText(umsgPasswordCaption));
    EXPECT_TRUE(Saw(UpgraderText(umsgUserName)));
    EXPECT_TRUE(Saw(L"setup.exe"));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "s3cret");

    AnswerNextDialog(IDCANCEL);
    EXPECT_FALSE(prompts.AskPassword(L"x", user, password));

    AnswerNextDialog(IDOK);
    prompts.ShowError(UpgraderText(umsgNoInfoFile));
    ASSERT_TRUE(answerer.answered);
    EXPECT_EQ(answerer.caption, UpgraderText(umsgCaption));
    EXPECT_TRUE(Saw(UpgraderText(umsgNoInfoFile)));
    SelectUpgraderLanguage(wlEnglish);
}

// Steps run one by one on the open dialog, each after what the one before
// typed has arrived; the dialog is answered by its keys.
struct Steps {
    std::vector<std::function<void(HWND dialog)>> steps;
    std::size_t next = 0;
};
Steps steps;

void CALLBACK RunStep(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog)
        return;
    if (steps.next >= steps.steps.size()) {
        KillTimer(nullptr, id);
        return;
    }
    steps.steps[steps.next++](dialog);
}

void RunSteps(std::vector<std::function<void(HWND dialog)>> list)
{
    steps = Steps{std::move(list)};
    SetTimer(nullptr, 0, 200, RunStep);
}

TEST(UpgraderDialogs, AskDialogIsReadAndItsLinksReachedByTab)
{
    const ComApartment apartment;
    const TauUpgraderPrompts prompts = DefaultUpgraderPrompts();
    std::vector<std::string> opened;
    THTMLabel::SetShellOpener([&](const std::string& link) { opened.push_back(link); });
    HWND yes = nullptr, pane = nullptr;
    std::vector<std::wstring> seen;
    RunSteps({
        [&](HWND dialog) {
            SetForegroundWindow(dialog);
            yes = GetDlgItem(dialog, IDYES);
            EXPECT_EQ(GetFocus(), yes) << "Yes has the focus when the question opens";
            const std::vector<AccessibleNode> tree = AccessibleTreeOf(dialog);
            for (const AccessibleNode& node : tree)
                seen.push_back(std::to_wstring(node.role) + L" " + node.name + L" " + node.value);
            const AccessibleNode* question = FindAccessible(tree, ROLE_SYSTEM_STATICTEXT, L"Version 2.0 is out");
            ASSERT_TRUE(question) << "the question is read";
            EXPECT_NE(question->name.find(L"Faster downloads"), std::wstring::npos);
            EXPECT_EQ(question->name.find(L"<b>"), std::wstring::npos) << "as plain text";
            const AccessibleNode* notes = FindAccessible(tree, ROLE_SYSTEM_LINK, L"release notes");
            ASSERT_TRUE(notes);
            EXPECT_EQ(notes->value, L"http://example.com/notes");
            EXPECT_EQ(notes->defaultAction, L"Jump");
            // Real buttons: the system's objects, push buttons on Windows and clients under Wine.
            for (const wchar_t* button : {L"Yes", L"Later"})
                EXPECT_TRUE(FindAccessible(tree, ROLE_SYSTEM_PUSHBUTTON, button) ||
                            FindAccessible(tree, ROLE_SYSTEM_CLIENT, button))
                    << Utf8FromWide(button);
            PressKey(VK_TAB, /*shift=*/true);
        },
        [&](HWND) {
            pane = GetFocus();
            EXPECT_EQ(ClassOf(pane), L"KeldoraGraphicPane") << "Shift+Tab from Yes reaches the message";
            PressKey(VK_RETURN);
        },
        [&](HWND) {
            EXPECT_EQ(opened, std::vector<std::string>{"http://example.com/files"}) << "the last link, by Enter";
            PressKey(VK_TAB, /*shift=*/true);
        },
        [&](HWND) {
            EXPECT_EQ(GetFocus(), pane) << "Shift+Tab moves to the first link, still in the message";
            PressKey(VK_RETURN);
        },
        [&](HWND) {
            EXPECT_EQ(opened.back(), "http://example.com/notes");
            PressKey(VK_TAB);
            PressKey(VK_TAB);
        },
        [&](HWND) {
            EXPECT_EQ(GetFocus(), yes) << "past the last link, on to Yes";
            PressKey(VK_ESCAPE);
        },
    });
    EXPECT_FALSE(prompts.AskUpgrade("<b>Version 2.0</b> is out. Faster downloads. <a href=\"http://example.com/notes\">"
                                    "release notes</a> and <a href=\"http://example.com/files\">files</a>",
                                    "", {}))
        << "Esc answers Later";
    EXPECT_EQ(steps.next, steps.steps.size()) << "every step ran";
    EXPECT_EQ(opened.size(), 2u);
    THTMLabel::SetShellOpener(nullptr);
    if (HasFailure())
        for (const std::wstring& node : seen)
            ADD_FAILURE() << Utf8FromWide(node);
}

TEST(UpgraderDialogs, KeysScrollALongMessage)
{
    const TauUpgraderPrompts prompts = DefaultUpgraderPrompts();
    std::string longMessage;
    for (int i = 0; i < 400; ++i)
        longMessage += "line " + std::to_string(i) + "<br>";
    std::vector<int> positions;
    const auto position = [&](HWND dialog) { positions.push_back(GetScrollPos(dialog, SB_VERT)); };
    RunSteps({
        [&](HWND dialog) {
            SetForegroundWindow(dialog);
            position(dialog);
            PressKey(VK_TAB, /*shift=*/true);
        },
        [&](HWND) {
            EXPECT_EQ(ClassOf(GetFocus()), L"KeldoraGraphicPane") << "a message that scrolls takes the focus";
            PressKey(VK_NEXT);
            PressKey(VK_NEXT);
        },
        [&](HWND dialog) {
            position(dialog);
            PressKey(VK_UP);
        },
        [&](HWND dialog) {
            position(dialog);
            PressKey(VK_END);
        },
        [&](HWND dialog) {
            position(dialog);
            PressKey(VK_HOME);
        },
        [&](HWND dialog) {
            position(dialog);
            PressKey(VK_ESCAPE);
        },
    });
    EXPECT_FALSE(prompts.AskUpgrade(longMessage, "", {}));
    ASSERT_EQ(positions.size(), 5u);
    EXPECT_EQ(positions[0], 0);
    EXPECT_GT(positions[1], 100) << "two pages down";
    EXPECT_LT(positions[2], positions[1]) << "a line up";
    EXPECT_GT(positions[3], positions[1]) << "the end";
    EXPECT_EQ(positions[4], 0) << "back to the top";
}

TEST(UpgraderDialogs, LabelsAndButtonsFitTheirTextInEveryLanguage)
{
    const TauUpgraderPrompts prompts = DefaultUpgraderPrompts();
    std::vector<std::string> clipped;
    for (int language = wlEnglish; language <= wlIcelandic; ++language) {
        SelectUpgraderLanguage(static_cast<TauAutoUpgraderLanguage>(language));
        const std::string name = "language " + std::to_string(language);
        std::string user, password;
        AnswerNextDialog(IDCANCEL);
        answerer.inspect = [&](HWND dialog) {
            std::vector<HWND> labels, edits;
            for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                const std::wstring kind = ClassOf(child);
                const std::wstring text = WindowTextOf(child);
                if (kind == L"Edit")
                    edits.push_back(child);
                else if (text == UpgraderText(umsgUserName) || text == UpgraderText(umsgPassword))
                    labels.push_back(child);
                if (kind == L"Button" && !TextFits(child, 4))
                    clipped.push_back(name + " password button " + Utf8FromWide(text));
            }
            ASSERT_EQ(labels.size(), 2u);
            ASSERT_EQ(edits.size(), 2u);
            for (int i = 0; i < 2; ++i) {
                if (!TextFits(labels[i]))
                    clipped.push_back(name + " password label " + Utf8FromWide(WindowTextOf(labels[i])));
                EXPECT_GE(BoundsIn(dialog, edits[i]).left, BoundsIn(dialog, labels[i]).right) << name;
            }
        };
        EXPECT_FALSE(prompts.AskPassword(UpgraderText(umsgPasswordProtected, {L"setup.exe"}), user, password));

        TauWizardLink link;
        link.StayOnTop = false;
        ShowUpgraderWizard(link);
        SetWizardFile("http://example.com/setup.exe", 99, 99);
        SetWizardFileSize(99999 * 1024);
        SetWizardProgress(50, 50, 99999.9f, 99 * 3600 + 59 * 60 + 59);
        for (const int id : {wzFileSize, wzTransferRate, wzTimeLeft, wzAllDownloading, wzDownloadingFrom})
            if (!TextFits(GetDlgItem(UpgraderWizard(), id)))
                clipped.push_back(name + " wizard " + Utf8FromWide(WindowTextOf(GetDlgItem(UpgraderWizard(), id))));
        for (const int id : {wzCancelBtn, wzFinishBtn})
            if (!TextFits(GetDlgItem(UpgraderWizard(), id), 4))
                clipped.push_back(name + " wizard button " + Utf8FromWide(WindowTextOf(GetDlgItem(UpgraderWizard(), id))));
        const RECT size = BoundsIn(UpgraderWizard(), GetDlgItem(UpgraderWizard(), wzFileSize));
        const RECT rate = BoundsIn(UpgraderWizard(), GetDlgItem(UpgraderWizard(), wzTransferRate));
        EXPECT_LE(size.right, rate.left) << name << ": the two fields side by side";
        FreeUpgraderWizardOf(nullptr);
    }
    SelectUpgraderLanguage(wlEnglish);
    EXPECT_TRUE(clipped.empty()) << [&] {
        std::string all;
        for (const std::string& line : clipped)
            all += line + "\n";
        return all;
    }();
}

// The pixels of a line of text in the dialogs' font, '#' for ink.
std::string Drawn(const std::wstring& text)
{
    constexpr int width = 200, height = 24;
    const HDC screen = GetDC(nullptr);
    const HDC dc = CreateCompatibleDC(screen);
    const HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    ReleaseDC(nullptr, screen);
    LOGFONTW face{};
    face.lfHeight = -11;
    face.lfCharSet = DEFAULT_CHARSET;
    lstrcpyW(face.lfFaceName, L"MS Shell Dlg");
    const HFONT font = CreateFontIndirectW(&face);
    const HGDIOBJ oldBitmap = SelectObject(dc, bitmap);
    const HGDIOBJ oldFont = SelectObject(dc, font);
    RECT area{0, 0, width, height};
    FillRect(dc, &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area, DT_SINGLELINE | DT_NOPREFIX);
    std::string pixels;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            pixels += GetPixel(dc, x, y) == RGB(255, 255, 255) ? '.' : '#';
    SelectObject(dc, oldFont);
    SelectObject(dc, oldBitmap);
    DeleteObject(font);
    DeleteObject(bitmap);
    DeleteDC(dc);
    return pixels;
}

// The engine fetches an information file with this release message and asks;
// the answer is Later. What the ask dialog showed of the message.
std::string AskedMessage(const HttpTestServer& server, const std::string& message)
{
    server.PutFile("info.txt", "#version=2.0\r\n#url=http://example.com/a.exe\r\n#message={" + message + "}\r\n");
    TauAutoUpgrader engine;
    engine.Wizard.SetLanguage(wlEnglish);
    engine.InfoFileURL = server.Url("/info.txt");
    engine.VersionControl = byNumber;
    engine.VersionNumber = "1.0";
    // The test server speaks plain http and no key signs the file.
    engine.AllowUnverifiedUpdates = true;
    bool later = false;
    engine.OnLaterUpgrade = [&](TauAutoUpgrader&) { later = true; };
    AnswerNextDialog(IDNO);
    answerer.captureMessage = true;
    engine.CheckUpdate();
    EXPECT_TRUE(PumpUntil([&] { return later && !engine.Busy(); }, 60000));
    return answerer.messagePixels;
}

// A process started with another locale (a test running beside this one in
// the prefix) puts Wine's own font links back, at any moment; only
// LinkCjkFont writes ours. Still ours once the drawing is done: ours since
// before the drawing process started, when Wine read them.
constexpr const char* kLinksWent = "the font links were put back meanwhile";

bool LinksWentMeanwhile()
{
    const RegKey links = RegKey::Open(HKEY_LOCAL_MACHINE,
                                      "Software\\Microsoft\\Windows NT\\CurrentVersion\\FontLink\\SystemLink", KEY_READ);
    bool ours = static_cast<bool>(links);
    // "MS Shell Dlg" is drawn as Tahoma: each face counts.
    for (const char* face : {"Tahoma", "MS Shell Dlg", "MS Shell Dlg 2", "Microsoft Sans Serif", "MS Sans Serif"}) {
        RegKey::Value value;
        ours = ours && links.Query(face, value) == ERROR_SUCCESS &&
               RegStringData(value.data) == "wqy-microhei.ttc,WenQuanYi Micro Hei";
    }
    if (ours)
        return false;
    std::printf("%s\n", kLinksWent);
    std::fflush(stdout);
    return true;
}

// Run by the test at the end in a process of its own, started after the links,
// with the system's code page 1252.
TEST(UpgraderDialogs, DISABLED_ReleaseMessageInUtf8IsDrawnOnCodePage1252)
{
    ASSERT_EQ(GetACP(), 1252u);
    HttpTestServer server;
    const std::string russian = "\u041D\u043E\u0432\u0430\u044F \u0432\u0435\u0440\u0441\u0438\u044F ";
    const std::string utf8 = AskedMessage(server, "<b>" + russian + "</b>\u5347\u7EA7 &copy;");
    const std::string questionMarks = AskedMessage(server, "<b>????? ?????? </b>?? &copy;");
    const std::string otherWords = AskedMessage(server, "<b>" + russian + "</b>\u5411\u5BFC &copy;");
    const std::string bytesIn1252 = Utf8FromWide(WideFromAnsi("<b>" + russian + "</b>\u5347\u7EA7 &copy;"));
    const std::string readIn1252 = AskedMessage(server, bytesIn1252);
    const std::string withMark = AskedMessage(server, "\xEF\xBB\xBF<b>" + russian + "</b>\u5347\u7EA7 &copy;");
    // Not UTF-8: the code page's reading, as before.
    const std::string ansi = AskedMessage(server, "Caf\xE9 \xFC" "ber \x80");
    const std::string ansiInUtf8 = AskedMessage(server, "Caf\u00E9 \u00FCber \u20AC");
    const std::string replacements = AskedMessage(server, "Caf\uFFFD \uFFFDber \uFFFD");
    if (LinksWentMeanwhile())
        return;

    ASSERT_NE(utf8.find('#'), std::string::npos) << "the message is drawn";
    EXPECT_NE(utf8, questionMarks) << "not question marks";
    EXPECT_NE(utf8, otherWords) << "two Chinese words differ: glyphs, not the same empty boxes";
    EXPECT_NE(utf8, readIn1252) << "not what code page 1252 makes of the bytes";
    EXPECT_EQ(utf8, withMark) << "a byte-order mark changes nothing";
    EXPECT_EQ(ansi, ansiInUtf8);
    EXPECT_NE(ansi, replacements) << "not replacement signs";
}

// Run by the test below in a process of its own, started after the links
// (Wine reads font links when a process starts).
TEST(UpgraderDialogs, DISABLED_ChineseTextIsDrawn)
{
    const std::string upgrade = Drawn(L"\u5347\u7EA7");
    const std::string wizard = Drawn(L"\u5411\u5BFC");
    if (LinksWentMeanwhile())
        return;
    EXPECT_NE(upgrade.find('#'), std::string::npos) << "something is drawn";
    EXPECT_NE(upgrade, wizard) << "two different words look different: real glyphs, not empty boxes";
}

// The drawing starts right after the links are written, and is drawn again
// when the links went before it was done.
void RunOnceTheFontIsLinked(const std::string& test)
{
    for (int run = 1;; ++run) {
        ASSERT_TRUE(LinkCjkFont());
        DWORD exitCode = STILL_ACTIVE;
        const std::string output = RunAndCapture(
            "update_tests.exe --gtest_also_run_disabled_tests --gtest_filter=UpgraderDialogs.DISABLED_" + test,
            &exitCode);
        if (output.find(kLinksWent) == std::string::npos) {
            EXPECT_EQ(exitCode, 0u) << output;
            return;
        }
        ASSERT_LT(run, 20) << "the links never lasted a whole drawing";
        std::printf("%s: drawn again\n", kLinksWent);
    }
}

TEST(UpgraderDialogs, DISABLED_ChineseTextIsDrawnOnceTheFontIsLinked)
{
    RunOnceTheFontIsLinked("ChineseTextIsDrawn");
}

TEST(UpgraderDialogs, DISABLED_ReleaseMessageInUtf8IsDrawnOnceTheFontIsLinked)
{
    RunOnceTheFontIsLinked("ReleaseMessageInUtf8IsDrawnOnCodePage1252");
}

}  // namespace
