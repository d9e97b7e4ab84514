#include "update/auAutoUpgrader.h"
#include "update/auStubLaunch.h"

#include "HttpTestServer.h"
#include "common/WineSupport.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(AutoUpgrader, NewEngineHasTheDeclaredDefaults)
{
    TauAutoUpgrader engine;
    EXPECT_TRUE(engine.ShowMessages ==
                (TauAutoUpgraderShowMessages{mAskUpgrade, mConnLost, mLostFile, mPasswordRequest, mReleaseRefused}));
    EXPECT_FALSE(engine.AllowUnverifiedUpdates) << "unverified releases are refused by default";
    EXPECT_EQ(engine.Product, "");
    EXPECT_FALSE(engine.ShowMessages.Contains(mNoUpdateAvailable));
    EXPECT_EQ(engine.TransferBufferSize, 4096);
    EXPECT_EQ(engine.InfoFileURL, "http://");
    EXPECT_EQ(engine.RestartParams(), "/afterupgrade");
    EXPECT_EQ(engine.VersionControl, byDate);
    EXPECT_EQ(engine.MiscFilesUpgrade, mfuAlwaysDownload);
    EXPECT_TRUE(engine.VersionDateAutoSet());
    EXPECT_TRUE(engine.VersionNumber.empty());
    EXPECT_FALSE(engine.AutoCheck());
    EXPECT_TRUE(engine.HideTempFile) << "downloads are created hidden and temporary";
    EXPECT_EQ(engine.ThreadPriority(), tpNormal);
    EXPECT_EQ(engine.Proxy.AccessType, atPreconfig);
    EXPECT_EQ(engine.Proxy.ProxyPort, 8080);
    EXPECT_EQ(engine.Proxy.ProxyBypass, "127.0.0.1;");
    EXPECT_EQ(engine.AcceptTypes, "text/html, */*");
    EXPECT_TRUE(engine.Wizard.Enabled);
    EXPECT_TRUE(engine.Wizard.StayOnTop);
    EXPECT_EQ(engine.Wizard.Language(), wlAuto);
    EXPECT_EQ(engine.Wizard.Pic118x218(), nullptr);
    EXPECT_EQ(engine.InfoFile.UpgradeMethod, umSelfUpgrade);

    SYSTEMTIME now{};
    GetLocalTime(&now);
    char today[16];
    std::snprintf(today, sizeof today, "%02u/%02u/%04u", now.wMonth, now.wDay, now.wYear);
    EXPECT_EQ(engine.VersionDate, today);
}

TEST(AutoUpgrader, EmptyRestartParamsReadBackAsABlank)
{
    TauAutoUpgrader engine;
    engine.SetRestartParams("");
    EXPECT_EQ(engine.RestartParams(), " ");
    engine.SetRestartParams("/verysilent");
    EXPECT_EQ(engine.RestartParams(), "/verysilent");
}

TEST(AutoUpgrader, LanguageAssignedLastWins)
{
    TauAutoUpgrader first;
    TauAutoUpgrader second;
    first.Wizard.SetLanguage(wlGerman);
    second.Wizard.SetLanguage(wlFinnish);
    EXPECT_EQ(UpgraderLanguage(), wlFinnish);
    first.Wizard.SetLanguage(wlEnglish);
    EXPECT_EQ(UpgraderLanguage(), wlEnglish);
}

TEST(AutoUpgrader, WizardKeepsACopyOfThePicture)
{
    TauAutoUpgrader engine;
    HBITMAP picture = CreateBitmap(118, 218, 1, 32, nullptr);
    engine.Wizard.SetPic118x218(picture);
    EXPECT_NE(engine.Wizard.Pic118x218(), nullptr);
    EXPECT_NE(engine.Wizard.Pic118x218(), picture);
    DeleteObject(picture);
    BITMAP info{};
    EXPECT_EQ(GetObjectW(engine.Wizard.Pic118x218(), sizeof info, &info), static_cast<int>(sizeof info));
    EXPECT_EQ(info.bmWidth, 118);
    engine.Wizard.SetPic118x218(nullptr);
    EXPECT_EQ(engine.Wizard.Pic118x218(), nullptr);
}

TEST(AutoUpgrader, CreationRemovesThePrivateFoldersOfEndedStubsOnly)
{
    const std::string ended = CreatePrivateFolder();
    const std::string running = CreatePrivateFolder();
    ASSERT_FALSE(ended.empty());
    ASSERT_NE(ended, running) << "a new random name each time";
    EXPECT_NE(ended.find(std::string("\\") + PrivateFolderPrefix), std::string::npos);
    for (const std::string& folder : {ended, running}) {
        for (const char* name : {"Zeredira3.exe", "manifest.txt"}) {
            HANDLE file =
                CreateFileW(WideFromUtf8(folder + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            CloseHandle(file);
        }
    }
    {
        // A stub at work holds its manifest open without sharing deletion.
        const UniqueFile held(CreateFileW(WideFromUtf8(running + "manifest.txt").c_str(), GENERIC_READ,
                                          FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        TauAutoUpgrader engine;
        EXPECT_EQ(GetFileAttributesW(WideFromUtf8(ended).c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_TRUE(FileExists(running + "manifest.txt"));
    }
    TauAutoUpgrader later;
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(running).c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(AutoUpgrader, MessageWindowAllowsTheSessionToEnd)
{
    TauAutoUpgrader engine;
    ASSERT_NE(engine.MessageWindow(), nullptr);
    EXPECT_EQ(SendMessageW(engine.MessageWindow(), WM_QUERYENDSESSION, 0, 0), 1);
    engine.SetAutoCheck(true);
    EXPECT_TRUE(engine.AutoCheck());
    engine.SetAutoCheck(false);
    EXPECT_FALSE(engine.AutoCheck());
}

TEST(AutoUpgrader, ThreadPriorityIsKeptAcrossTransfers)
{
    HttpTestServer server;
    server.PutFile("info.txt", "#version=2.0\r\n");
    TauAutoUpgrader engine;
    engine.SetThreadPriority(tpLower);
    engine.InfoFileURL = server.Url("/info.txt");
    engine.CheckUpdate();
    EXPECT_EQ(engine.WorkerThread().Worker().Priority(), tpLower);
    ASSERT_TRUE(PumpUntil([&] { return !engine.Busy(); }, 60000));
    EXPECT_EQ(engine.ThreadPriority(), tpLower);
}

TEST(AutoUpgrader, CheckUpdateFetchesTheInformationFileUncached)
{
    HttpTestServer server;
    server.PutFile("info.txt", "#version=2.0\r\n");
    TauAutoUpgrader engine;
    engine.FileName = "leftover.bin";
    engine.InfoFileURL = server.Url("/info.txt?delay=200");
    engine.CheckUpdate();
    EXPECT_TRUE(engine.Busy());
    EXPECT_TRUE(engine.InfoFileMode());
    EXPECT_TRUE(engine.FileName.empty()) << "the body stays in memory";
    EXPECT_TRUE(engine.UseCache) << "the user's setting stays for later transfers";
    engine.InfoFileURL = server.Url("/other.txt");
    engine.CheckUpdate();
    EXPECT_EQ(engine.URL, server.Url("/info.txt?delay=200")) << "nothing more while busy";
    ASSERT_TRUE(PumpUntil([&] { return !engine.Busy(); }, 60000));
    const std::string log = server.RequestLog();
    EXPECT_NE(log.find("no-cache"), std::string::npos) << log;
    EXPECT_EQ(log.find("other.txt"), std::string::npos);
}

// Each test runs in a process of its own, so the note is this test's to see.
TEST(AutoUpgrader, WithoutAKeyTheLogSaysOnceThatOnlyHttpsReleasesInstall)
{
    HttpTestServer server;
    server.PutFile("info.txt", "#version=1.0\r\n#url=http://127.0.0.1/app.exe\r\n");
    std::vector<std::string> log;
    int noUpdate = 0;
    std::vector<std::string> refused;
    const auto check = [&](TauAutoUpgrader& engine) {
        engine.InfoFileURL = server.Url("/info.txt");
        engine.VersionControl = byNumber;
        engine.VersionNumber = "1.0";
        engine.ShowMessages = {};
        engine.OnLog = [&](TauAutoUpgrader&, const std::string& text) { log.push_back(text); };
        engine.OnNoUpdateAvailable = [&](TauAutoUpgrader&) { ++noUpdate; };
        engine.OnReleaseRefused = [&](TauAutoUpgrader&, const std::string& reason) { refused.push_back(reason); };
        engine.CheckUpdate();
        ASSERT_TRUE(PumpUntil([&] { return !engine.Busy(); }, 60000));
        PumpMessagesFor(50);
    };
    TauAutoUpgrader first, second;
    check(first);
    check(first);
    check(second);
    EXPECT_EQ(noUpdate, 3) << "over plain http an unsigned file still tells that nothing is newer";
    ASSERT_EQ(log.size(), 1u);
    EXPECT_NE(log[0].find("only when its information file and every file come over https"), std::string::npos)
        << log[0];
    EXPECT_EQ(first.LastFailure(), "");

    TauAutoUpgrader keyed;
    keyed.PublisherKey = "MFkwEwYHKoZIzj0CAQYIKoZIzj0DAQcDQgAEL4A2eWukxHaVM0ch2TqdOYbL9cGZvvtlEolprBGtS5LSdkku4GAepb5gY"
                         "/ZsrMqjKEa4hR+G8hOqHk7SIs44mQ==";
    keyed.Product = "Keldora";
    check(keyed);
    EXPECT_EQ(refused, std::vector<std::string>{keyed.LastFailure()});
    EXPECT_EQ(noUpdate, 3);
    EXPECT_EQ(keyed.LastFailure(), "the information file is not signed (no #signature= line)");
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1], "release refused: " + keyed.LastFailure());
}

TEST(AutoUpgrader, AbortUpgradeStopsTheTransferAndRaisesOnAborted)
{
    HttpTestServer server;
    TauAutoUpgrader engine;
    int aborted = 0;
    engine.OnAborted = [&](TauAutoUpgrader& sender) {
        EXPECT_EQ(&sender, &engine);
        ++aborted;
    };
    engine.InfoFileURL = server.Url("/gen/100000?slow=50&chunk=1000");
    engine.CheckUpdate();
    PumpMessagesFor(100);
    engine.AbortUpgrade();
    EXPECT_EQ(aborted, 1);
    EXPECT_TRUE(engine.Aborted());
    EXPECT_FALSE(engine.Busy());
    engine.CheckUpdate();
    EXPECT_FALSE(engine.Aborted()) << "a new check clears it";
    engine.AbortUpgrade();
}

TEST(AutoUpgrader, AfterRestartIsRaisedForTheRestartArgument)
{
    DWORD code = 1;
    const std::string restarted = RunAndCapture(
        "update_tests.exe /afterupgrade --gtest_also_run_disabled_tests --gtest_filter=*DISABLED_AfterRestartChild*",
        &code);
    EXPECT_NE(restarted.find("after-restart raised 1 time(s)"), std::string::npos) << restarted;
    const std::string other = RunAndCapture(
        "update_tests.exe /AfterUpgrade --gtest_also_run_disabled_tests --gtest_filter=*DISABLED_AfterRestartChild*",
        &code);
    EXPECT_NE(other.find("after-restart raised 0 time(s)"), std::string::npos) << "case matters: " << other;
}

// Run by the test above in a program started with a chosen first argument.
TEST(AutoUpgrader, DISABLED_AfterRestartChild)
{
    TauAutoUpgrader engine;
    int raised = 0;
    engine.OnAfterRestart = [&](TauAutoUpgrader&) { ++raised; };
    engine.Loaded();
    std::printf("after-restart raised %d time(s)\n", raised);
}

}  // namespace
