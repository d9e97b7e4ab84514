#include "update/auUpgraderDialogs.h"
#include "update/auUpgraderTexts.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

// What the answering timer saw of the dialog it answered, and what it does.
struct Answerer {
    int command = IDOK;
    std::vector<std::wstring> editTexts;
    std::wstring caption;
    RECT bounds{};
    std::vector<std::wstring> controls;
    bool answered = false;
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

void CALLBACK Answer(HWND, UINT, UINT_PTR id, DWORD)
{
    HWND dialog = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (!dialog)
        return;
    KillTimer(nullptr, id);
    answerer.caption = TextOf(dialog);
    GetWindowRect(dialog, &answerer.bounds);
    EnumChildWindows(dialog, CollectChild, 0);
    answerer.answered = true;
    PostMessageW(dialog, WM_COMMAND, static_cast<WPARAM>(answerer.command), 0);
}

void AnswerNextDialog(int command, std::vector<std::wstring> editTexts = {})
{
    answerer = Answerer();
    answerer.command = command;
    answerer.editTexts = std::move(editTexts);
    SetTimer(nullptr, 0, 100, Answer);
}

bool Saw(const std::wstring& text)
{
    for (const std::wstring& control : answerer.controls)
        if (control.find(text) != std::wstring::npos)
            return true;
    return false;
}

TEST(UpgraderDialogs, AskDialogInRussian)
{
    SelectUpgraderLanguage(wlRussian);
    const TauUpgraderPrompts prompts = DefaultUpgraderPrompts();
    AnswerNextDialog(IDYES);
    EXPECT_TRUE(prompts.AskUpgrade("Version 2.0 <b>is out</b>", "http://example.com/new.html"));
    ASSERT_TRUE(answerer.answered);
    EXPECT_EQ(answerer.caption, UpgraderText(umsgCaption));
    EXPECT_TRUE(Saw(UpgraderText(umsgYes)));
    EXPECT_TRUE(Saw(UpgraderText(umsgLater)));
    EXPECT_TRUE(Saw(L"More Info"));
    EXPECT_TRUE(Saw(L"Version 2.0 <b>is out</b>"));

    AnswerNextDialog(IDNO);
    EXPECT_FALSE(prompts.AskUpgrade("", ""));
    EXPECT_FALSE(Saw(L"More Info")) << "no address, no button";
    SelectUpgraderLanguage(wlEnglish);
}

TEST(UpgraderDialogs, LongMessageStaysOnTheScreen)
{
    const TauUpgraderPrompts prompts = DefaultUpgraderPrompts();
    std::string longMessage;
    for (int i = 0; i < 400; ++i)
        longMessage += "line " + std::to_string(i) + "\r\n";
    AnswerNextDialog(IDNO);
    prompts.AskUpgrade(longMessage, "");
    ASSERT_TRUE(answerer.answered);
    const RECT seen = answerer.bounds;
    RECT work{};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_GT(seen.bottom - seen.top, 132);
    EXPECT_LE(seen.bottom - seen.top, work.bottom - work.top);
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

}  // namespace
