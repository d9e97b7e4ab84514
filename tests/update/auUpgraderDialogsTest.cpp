#include "update/auUpgraderDialogs.h"
#include "update/auAutoUpgrader.h"
#include "update/auUpgraderTexts.h"
#include "common/AppMessages.h"
#include "common/WineSupport.h"
#include "widgets/HTMLabel.h"
#include "winutil/WideText.h"

#include "HttpTestServer.h"

#include <gtest/gtest.h>

#include <windows.h>

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
    std::vector<std::wstring> controls;
    bool answered = false;
    // The ask dialog's message area, '#' for ink, when asked for.
    bool captureMessage = false;
    std::string messagePixels;
};
Answerer answerer;

std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM)
{
    wchar_t className[32] = {};
    GetClassNameW(child, className, 32);
    if (lstrcmpiW(className, L"Edit") == 0 && !answerer.editTexts.empty()) {
        SetWindowTextW(child, answerer.editTexts.front().c_str());
        answerer.editTexts.erase(answerer.editTexts.begin());
    }
    answerer.controls.push_back(TextOf(child));
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
    if (answerer.captureMessage)
        answerer.messagePixels = MessagePixels(dialog);
    answerer.caption = TextOf(dialog);
    GetWindowRect(dialog, &answerer.bounds);
    GetWindowRect(GetDlgItem(dialog, IDYES), &answerer.yesButton);
    answerer.scrolls = (GetWindowLongPtrW(dialog, GWL_STYLE) & WS_VSCROLL) != 0;
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
    prompts.AskUpgrade(longMessage, "", {});
    ASSERT_TRUE(answerer.answered);
    const RECT seen = answerer.bounds;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_GT(seen.bottom - seen.top, 132);
    EXPECT_LE(seen.bottom - seen.top, work.bottom - work.top);
    EXPECT_TRUE(answerer.scrolls) << "the rest of the message scrolls";
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

// Run by CTest before the next test (Wine reads font links when a process starts).
TEST(UpgraderDialogs, DISABLED_LinkCjkFont)
{
    EXPECT_TRUE(LinkCjkFont());
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
    bool later = false;
    engine.OnLaterUpgrade = [&](TauAutoUpgrader&) { later = true; };
    AnswerNextDialog(IDNO);
    answerer.captureMessage = true;
    engine.CheckUpdate();
    EXPECT_TRUE(PumpUntil([&] { return later && !engine.Busy(); }));
    return answerer.messagePixels;
}

// Run by CTest after the font link, with the system's code page 1252.
TEST(UpgraderDialogs, DISABLED_ReleaseMessageInUtf8IsDrawnOnCodePage1252)
{
    ASSERT_EQ(GetACP(), 1252u);
    HttpTestServer server;
    const std::string russian = "\u041D\u043E\u0432\u0430\u044F \u0432\u0435\u0440\u0441\u0438\u044F ";
    const std::string utf8 = AskedMessage(server, "<b>" + russian + "</b>\u5347\u7EA7 &copy;");
    ASSERT_NE(utf8.find('#'), std::string::npos) << "the message is drawn";
    EXPECT_NE(utf8, AskedMessage(server, "<b>????? ?????? </b>?? &copy;")) << "not question marks";
    EXPECT_NE(utf8, AskedMessage(server, "<b>" + russian + "</b>\u5411\u5BFC &copy;"))
        << "two Chinese words differ: glyphs, not the same empty boxes";
    const std::string bytesIn1252 = Utf8FromWide(WideFromAnsi("<b>" + russian + "</b>\u5347\u7EA7 &copy;"));
    EXPECT_NE(utf8, AskedMessage(server, bytesIn1252)) << "not what code page 1252 makes of the bytes";
    EXPECT_EQ(utf8, AskedMessage(server, "\xEF\xBB\xBF<b>" + russian + "</b>\u5347\u7EA7 &copy;"))
        << "a byte-order mark changes nothing";

    // Not UTF-8: the code page's reading, as before.
    const std::string ansi = AskedMessage(server, "Caf\xE9 \xFC" "ber \x80");
    EXPECT_EQ(ansi, AskedMessage(server, "Caf\u00E9 \u00FCber \u20AC"));
    EXPECT_NE(ansi, AskedMessage(server, "Caf\uFFFD \uFFFDber \uFFFD")) << "not replacement signs";
}

TEST(UpgraderDialogs, DISABLED_ChineseTextIsDrawn)
{
    const std::string upgrade = Drawn(L"\u5347\u7EA7");
    const std::string wizard = Drawn(L"\u5411\u5BFC");
    EXPECT_NE(upgrade.find('#'), std::string::npos) << "something is drawn";
    EXPECT_NE(upgrade, wizard) << "two different words look different: real glyphs, not empty boxes";
}

}  // namespace
