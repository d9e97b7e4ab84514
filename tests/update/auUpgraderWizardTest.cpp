// The progress wizard following real downloads from the test server, its
// cancel question answered through the engine's prompts, and the one-per-
// process rule of the engine's windows.
#include "update/auAutoUpgrader.h"
#include "update/auUpgraderDialogs.h"

#include "HttpTestServer.h"
#include "common/AppMessages.h"
#include "common/AppPaths.h"
#include "winutil/FindFiles.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Events = std::vector<std::string>;

std::wstring TextOf(int id)
{
    wchar_t text[512] = {};
    GetDlgItemTextW(UpgraderWizard(), id, text, 512);
    return text;
}

int BarOf(int id)
{
    return static_cast<int>(SendDlgItemMessageW(UpgraderWizard(), id, PBM_GETPOS, 0, 0));
}

bool Visible(int id)
{
    return IsWindowVisible(GetDlgItem(UpgraderWizard(), id)) != FALSE;
}

bool Enabled(int id)
{
    return IsWindowEnabled(GetDlgItem(UpgraderWizard(), id)) != FALSE;
}

std::vector<std::string> PendingFiles()
{
    std::vector<std::string> names;
    for (const FoundFile& found : FindFiles(GetAppFolder() + "*.uTMP"))
        names.push_back(found.name);
    return names;
}

// Runs `action` from the message loop once the wizard shows its finished state.
std::function<void()> onFinished;

void CALLBACK WatchFinished(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (!UpgraderWizard() || !Enabled(wzFinishBtn) || !onFinished)
        return;
    KillTimer(nullptr, timer);
    const auto action = std::move(onFinished);
    onFinished = nullptr;
    action();
}

// Clicks Cancel and carries out the system close command it posted.
void CancelNow()
{
    const HWND wizard = UpgraderWizard();
    SendMessageW(wizard, WM_COMMAND, MAKEWPARAM(wzCancelBtn, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(wizard, wzCancelBtn)));
    MSG posted{};
    ASSERT_TRUE(PeekMessageW(&posted, wizard, WM_SYSCOMMAND, WM_SYSCOMMAND, PM_REMOVE));
    EXPECT_EQ(posted.wParam & 0xFFF0, static_cast<WPARAM>(SC_CLOSE));
    DispatchMessageW(&posted);
}

// An engine with its wizard downloading one file of the test server.
struct WizardDownload {
    HttpTestServer server;
    std::unique_ptr<TauAutoUpgrader> engine = std::make_unique<TauAutoUpgrader>();
    Events events;
    std::vector<std::wstring> questions;
    std::vector<bool> answers;
    std::function<void()> onFirstProgress;
    int lastFileBar = -1;
    int lastAllBar = -1;
    UINT_PTR watch = 0;

    WizardDownload()
    {
        SetApplicationTitle("Wizard Test");
        TauAutoUpgrader& e = *engine;
        e.Wizard.SetLanguage(wlEnglish);
        e.VersionControl = byNumber;
        e.VersionNumber = "1.0";
        e.ShowMessages = {};
        e.InfoFileURL = server.Url("/info.txt");
        // The test server speaks plain http and nothing here is signed.
        e.AllowUnverifiedUpdates = true;
        server.PutFile("app.bin", PatternBytes(2 * 1024 * 1024));
        server.PutFile("info.txt", "#version=2.0\r\n#url=" + server.Url("/app.bin") + "\r\n");
        e.OnProgress = [this](TauAutoUpgrader&, const std::string&, std::int64_t, std::int64_t, int, int,
                              std::uint8_t, std::uint8_t, float) {
            if (lastFileBar < 0 && onFirstProgress) {
                events.push_back("Progress");
                onFirstProgress();
            }
            if (UpgraderWizard()) {
                lastFileBar = BarOf(wzCurrentFileBar);
                lastAllBar = BarOf(wzAllFilesBar);
            }
        };
        e.OnFileDone = [this](TauAutoUpgrader&, const std::string&) { events.push_back("FileDone"); };
        e.OnEndUpgrade = [this](TauAutoUpgrader& s) {
            events.push_back("EndUpgrade");
            s.AbortUpgrade();
        };
        e.OnAborted = [this](TauAutoUpgrader&) { events.push_back("Aborted"); };
        e.Prompts.ConfirmAbort = [this](const std::wstring& text, const std::wstring& caption) {
            questions.push_back(caption + L": " + text);
            const bool yes = !answers.empty() && answers.front();
            if (!answers.empty())
                answers.erase(answers.begin());
            return yes;
        };
    }

    ~WizardDownload()
    {
        onFinished = nullptr;
        KillTimer(nullptr, watch);
        FreeUpgraderWindows();
        for (const std::string& name : PendingFiles()) {
            const std::string path = GetAppFolder() + name;
            SetFileAttributesW(WideFromUtf8(path).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW(WideFromUtf8(path).c_str());
        }
    }

    void Run()
    {
        watch = SetTimer(nullptr, 0, 30, WatchFinished);
        engine->CheckUpdate();
        ASSERT_TRUE(PumpUntil([&] { return std::find(events.begin(), events.end(), "Aborted") != events.end(); },
                              60000))
            << ::testing::PrintToString(events);
    }
};

const std::wstring Question =
    L"Wizard Test: The update is not completed.\rWould you like to abort upgrading?";

TEST(UpgraderWizard, FollowsADownloadToItsFinishedState)
{
    WizardDownload d;
    HBITMAP picture = CreateBitmap(40, 60, 1, 32, nullptr);
    d.engine->Wizard.SetPic118x218(picture);
    DeleteObject(picture);
    std::vector<std::wstring> downloading;
    d.engine->OnFileStart = [&](TauAutoUpgrader&, const std::string&, std::int64_t, OleDate, bool&) {
        const HWND wizard = UpgraderWizard();
        ASSERT_NE(wizard, nullptr);
        wchar_t caption[128] = {};
        GetWindowTextW(wizard, caption, 128);
        downloading = {caption};
        for (const int id : {wzTitle, wzCurrentFileGroup, wzAllFilesGroup, wzDownloadingFrom, wzFileURL, wzFileSize,
                             wzAllDownloading, wzTimeLeft, wzFinishBtn, wzCancelBtn, wzAbout})
            downloading.push_back(TextOf(id));
        EXPECT_NE(GetWindowLongPtrW(wizard, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << "StayOnTop";
        EXPECT_FALSE(Enabled(wzFinishBtn));
        EXPECT_FALSE(Visible(wzAfterNote));
        BITMAP bits{};
        const auto shown =
            reinterpret_cast<HBITMAP>(SendDlgItemMessageW(wizard, wzImage, STM_GETIMAGE, IMAGE_BITMAP, 0));
        ASSERT_EQ(GetObjectW(shown, sizeof bits, &bits), static_cast<int>(sizeof bits));
        EXPECT_EQ(bits.bmWidth, 118);
        EXPECT_EQ(bits.bmHeight, 218);
        RECT client{};
        GetClientRect(wizard, &client);
        EXPECT_EQ(client.right, 463);
        EXPECT_EQ(client.bottom, 281);
    };
    std::wstring rate;
    std::wstring timeLeft;
    d.engine->OnProgress = [&, inner = d.engine->OnProgress](TauAutoUpgrader& s, const std::string& url,
                                                             std::int64_t size, std::int64_t read, int elapsed,
                                                             int left, std::uint8_t percents, std::uint8_t total,
                                                             float transferRate) {
        inner(s, url, size, read, elapsed, left, percents, total, transferRate);
        rate = TextOf(wzTransferRate);
        timeLeft = TextOf(wzTimeLeft);
        EXPECT_EQ(d.lastFileBar, percents);
        EXPECT_EQ(d.lastAllBar, total);
    };
    std::vector<std::wstring> finished;
    bool groupsShown = true;
    bool cancelEnabled = true;
    bool noteShown = false;
    onFinished = [&] {
        finished = {TextOf(wzTitle), TextOf(wzAfterNote), TextOf(wzFinishBtn)};
        groupsShown = Visible(wzCurrentFileGroup) || Visible(wzFileURL) || Visible(wzAllFilesBar);
        cancelEnabled = Enabled(wzCancelBtn);
        noteShown = Visible(wzAfterNote);
        EXPECT_EQ(GetFocus(), GetDlgItem(UpgraderWizard(), wzFinishBtn));
        d.events.push_back("Finish");
        PostMessageW(UpgraderWizard(), WM_COMMAND, MAKEWPARAM(wzFinishBtn, BN_CLICKED), 0);
    };
    d.Run();

    EXPECT_EQ(d.events, (Events{"FileDone", "Finish", "EndUpgrade", "Aborted"}));
    EXPECT_EQ(downloading,
              (std::vector<std::wstring>{L"Application update wizard", L"Downloading files...", L" Current file ",
                                         L" All files ", L"Downloading file from",
                                         WideFromUtf8(d.server.Url("/app.bin")), L"File size: 2048.0 Kb",
                                         L"Downloading 1 of 1", L"Preparing. . .", L"&Next >", L"&Cancel",
                                         L" Keldora Auto Upgrader "}));
    EXPECT_EQ(d.lastFileBar, 100);
    EXPECT_EQ(d.lastAllBar, 100);
    EXPECT_EQ(rate.rfind(L"Transfer rate: ", 0), 0u) << rate;
    EXPECT_EQ(rate.substr(rate.size() - 5), L" Kb/s");
    EXPECT_EQ(timeLeft.rfind(L"Estimated time left: 0:00:0", 0), 0u) << timeLeft;
    EXPECT_EQ(finished, (std::vector<std::wstring>{L"Upgrade completed!",
                                                   L"The update of Wizard Test has been successfully completed.\r\r"
                                                   L"Press the OK button to restart program.",
                                                   L"&OK"}));
    EXPECT_FALSE(groupsShown);
    EXPECT_FALSE(cancelEnabled);
    EXPECT_TRUE(noteShown);
    EXPECT_TRUE(d.questions.empty()) << "the finish button closes without a question";
    EXPECT_EQ(UpgraderWizard(), nullptr);
}

TEST(UpgraderWizard, CancelWithYesAbortsTheDownload)
{
    WizardDownload d;
    d.answers = {true};
    d.onFirstProgress = [&] { CancelNow(); };
    d.Run();
    EXPECT_EQ(d.events, (Events{"Progress", "Aborted"}));
    EXPECT_EQ(d.questions, (std::vector<std::wstring>{Question}));
    EXPECT_EQ(UpgraderWizard(), nullptr);
    EXPECT_TRUE(d.engine->Aborted());
    EXPECT_TRUE(PumpUntil([] { return PendingFiles().empty(); }, 60000)) << "the partial download is removed";
}

// No goes on with the download; after the download the close box still asks,
// and Yes then ends the upgrade before OnEndUpgrade.
TEST(UpgraderWizard, CancelWithNoGoesOnAndTheCloseBoxStillAsksWhenFinished)
{
    WizardDownload d;
    d.answers = {false, false, true};
    d.onFirstProgress = [&] {
        CancelNow();
        d.events.push_back(UpgraderWizard() ? "still open" : "closed");
    };
    onFinished = [&] {
        SendMessageW(UpgraderWizard(), WM_SYSCOMMAND, SC_CLOSE, 0);
        d.events.push_back(UpgraderWizard() ? "still open" : "closed");
        SendMessageW(UpgraderWizard(), WM_SYSCOMMAND, SC_CLOSE, 0);
        d.events.push_back(UpgraderWizard() ? "still open" : "closed");
    };
    d.Run();
    EXPECT_EQ(d.events, (Events{"Progress", "still open", "FileDone", "still open", "Aborted", "closed"}));
    EXPECT_EQ(d.questions, (std::vector<std::wstring>{Question, Question, Question}));
    EXPECT_EQ(d.lastFileBar, 100);
    EXPECT_TRUE(PendingFiles().empty());
}

// A callback of the system's calling convention (a lambda is not one on i686).
BOOL CALLBACK CountWizards(HWND window, LPARAM count)
{
    wchar_t caption[128] = {};
    GetWindowTextW(window, caption, 128);
    if (std::wstring(caption) == L"Application update wizard")
        ++*reinterpret_cast<int*>(count);
    return TRUE;
}

TEST(UpgraderWizard, OneWizardPerProcessAndStayOnTopOff)
{
    TauAutoUpgrader engine;
    engine.Wizard.SetLanguage(wlEnglish);
    TauWizardLink link;
    link.Owner = &engine;
    ShowUpgraderWizard(link);
    const HWND first = UpgraderWizard();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(GetWindowLongPtrW(first, GWL_EXSTYLE) & WS_EX_TOPMOST, 0);
    SetWizardProgress(40, 20, 12.3f, 3725);
    link.StayOnTop = false;
    ShowUpgraderWizard(link);
    EXPECT_EQ(UpgraderWizard(), first) << "a second show reuses the open wizard";
    EXPECT_EQ(GetWindowLongPtrW(first, GWL_EXSTYLE) & WS_EX_TOPMOST, 0) << "an ordinary window";
    EXPECT_EQ(BarOf(wzCurrentFileBar), 40);
    EXPECT_EQ(TextOf(wzTransferRate), L"Transfer rate: 12.3 Kb/s");
    int wizards = 0;
    EnumThreadWindows(GetCurrentThreadId(), CountWizards, reinterpret_cast<LPARAM>(&wizards));
    EXPECT_EQ(wizards, 1);
    SetWizardProgress(40, 20, 0.0f, 3725);
    EXPECT_EQ(TextOf(wzTimeLeft), L"Estimated time left: 1:02:05");
    SetWizardFile("http://example.test/a.exe", 2, 3);
    EXPECT_EQ(TextOf(wzAllDownloading), L"Downloading 2 of 3");
    SetWizardFileSize(1536);
    EXPECT_EQ(TextOf(wzFileSize), L"File size: 1.5 Kb");

    TauAutoUpgrader other;
    FreeUpgraderWizardOf(&other);
    EXPECT_EQ(UpgraderWizard(), first) << "another engine's end leaves this wizard";
    engine.AbortUpgrade();
    EXPECT_EQ(UpgraderWizard(), nullptr);
    EXPECT_FALSE(IsWindow(first));
}

struct AskAbort {
    TauAutoUpgrader* engine = nullptr;
    HWND open = nullptr;
    bool secondAnswer = true;
};
AskAbort askAbort;

void CALLBACK AbortWhileAsking(HWND, UINT, UINT_PTR timer, DWORD)
{
    if (!UpgraderAskDialog())
        return;
    KillTimer(nullptr, timer);
    askAbort.open = UpgraderAskDialog();
    askAbort.secondAnswer = askAbort.engine->Prompts.AskUpgrade("again", "", {});
    askAbort.engine->AbortUpgrade();
}

TEST(UpgraderWizard, AbortUpgradeFreesAnOpenAskDialog)
{
    TauAutoUpgrader engine;
    engine.Wizard.SetLanguage(wlEnglish);
    Events events;
    engine.OnAborted = [&](TauAutoUpgrader&) { events.push_back("Aborted"); };
    askAbort = {&engine};
    SetTimer(nullptr, 0, 30, AbortWhileAsking);
    const bool yes = engine.Prompts.AskUpgrade("A new release", "", {});
    EXPECT_FALSE(yes);
    ASSERT_NE(askAbort.open, nullptr);
    EXPECT_FALSE(askAbort.secondAnswer) << "a second question while one is open is not asked";
    EXPECT_FALSE(IsWindow(askAbort.open));
    EXPECT_EQ(UpgraderAskDialog(), nullptr);
    EXPECT_EQ(events, (Events{"Aborted"}));
}

}  // namespace
