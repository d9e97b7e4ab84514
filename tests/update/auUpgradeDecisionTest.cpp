#include "update/auAutoUpgrader.h"
#include "update/auConnection.h"
#include "update/auUpgraderTexts.h"

#include "HttpTestServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Events = std::vector<std::string>;

// An engine whose every event and dialog is written down in order; the
// dialogs answer as the test says.
struct RecordedEngine {
    std::unique_ptr<TauAutoUpgrader> engine = std::make_unique<TauAutoUpgrader>();
    Events events;
    bool answerYes = true;
    bool vetoInBegin = false;
    bool clearFilesInBegin = false;
    std::string passwordUser;
    std::string passwordText;
    std::vector<std::string> beginFiles;
    std::string beginMessage;
    TacUpgradeMethod beginMethod = umSelfUpgrade;

    explicit RecordedEngine(const std::string& infoURL)
    {
        TauAutoUpgrader& e = *engine;
        e.Wizard.SetLanguage(wlEnglish);
        e.InfoFileURL = infoURL;
        e.VersionControl = byNumber;
        e.VersionNumber = "1.0";
        // The test server speaks plain http and nothing here is signed.
        e.AllowUnverifiedUpdates = true;
        e.OnNoUpdateAvailable = [this](TauAutoUpgrader&) { events.push_back("NoUpdateAvailable"); };
        e.OnBeginUpgrade = [this](TauAutoUpgrader&, const std::string& msg, TacUpgradeMethod method,
                                  std::vector<std::string>& files, bool& canUpgrade) {
            events.push_back("BeginUpgrade");
            beginMessage = msg;
            beginMethod = method;
            beginFiles = files;
            if (vetoInBegin)
                canUpgrade = false;
            if (clearFilesInBegin)
                files.clear();
        };
        // The decision ends here: the downloads that would follow are tested on their own.
        e.OnConfirmUpgrade = [this](TauAutoUpgrader& sender) {
            events.push_back("ConfirmUpgrade");
            sender.AbortUpgrade();
        };
        e.OnLaterUpgrade = [this](TauAutoUpgrader&) { events.push_back("LaterUpgrade"); };
        e.OnNoInfoFile = [this](TauAutoUpgrader&) { events.push_back("NoInfoFile"); };
        e.OnConnLost = [this](TauAutoUpgrader&) { events.push_back("ConnLost"); };
        e.OnAborted = [this](TauAutoUpgrader&) { events.push_back("Aborted"); };
        e.OnHostUnreachable = [this](TauAutoUpgrader&, const std::string& url, const std::string& host) {
            events.push_back("HostUnreachable " + url + " " + host);
        };
        e.OnPasswordRequest = [this](TauAutoUpgrader&, const std::string& realm, bool&) {
            events.push_back("PasswordRequest " + realm);
        };
        e.Prompts.AskUpgrade = [this](const std::string& msg, const std::string& moreInfo, const TauMoreInfo&) {
            events.push_back("ask [" + msg + "] " + moreInfo);
            return answerYes;
        };
        e.Prompts.ShowError = [this](const std::wstring& text) {
            events.push_back("error");
            lastError = text;
        };
        e.Prompts.AskPassword = [this](const std::wstring& text, std::string& user, std::string& password) {
            events.push_back("password dialog");
            passwordText.assign(text.begin(), text.end());
            user = passwordUser;
            password = "secret";
            return !passwordUser.empty();
        };
        e.Prompts.OpenBrowser = [this](const std::string& url) { events.push_back("browser " + url); };
    }

    // Checks and waits until the transfer and everything it raised are over.
    void Check()
    {
        engine->CheckUpdate();
        ASSERT_TRUE(PumpUntil([&] { return !engine->Busy(); }, 60000));
        PumpMessagesFor(50);
    }

    std::wstring lastError;
};

constexpr const char* NewRelease =
    "#version=2.0\r\n#url=http://example.com/a.exe\r\n#url0=http://example.com/b.dll\r\n"
    "#moreinfourl=http://example.com/new.html\r\n#message={<b>New</b>\r\nrelease}\r\n";

TEST(UpgradeDecision, NoNewerVersion)
{
    HttpTestServer server;
    server.PutFile("info.txt", "#VERSION=1.0\r\n#url=http://example.com/a.exe\r\n");
    RecordedEngine r(server.Url("/info.txt"));
    r.Check();
    EXPECT_EQ(r.events, Events{"NoUpdateAvailable"}) << "the default set shows no box";

    r.events.clear();
    r.engine->ShowMessages.Include(mNoUpdateAvailable);
    r.Check();
    EXPECT_EQ(r.events, (Events{"NoUpdateAvailable", "error"}));
    EXPECT_EQ(r.lastError, UpgraderText(umsgNoUpdate));
    EXPECT_TRUE(r.engine->UseCache) << "the user's cache setting is kept";
}

TEST(UpgradeDecision, NewerVersionButNoFilesIsNoUpdate)
{
    HttpTestServer server;
    server.PutFile("info.txt", "#version=2.0\r\n#url2=http://example.com/a.exe\r\n");
    RecordedEngine r(server.Url("/info.txt"));
    r.Check();
    EXPECT_EQ(r.events, Events{"NoUpdateAvailable"});
}

TEST(UpgradeDecision, EachMethodAfterYes)
{
    HttpTestServer server;
    for (const char* method : {"", "0", "1"}) {
        server.PutFile("info.txt", std::string(NewRelease) + "#method=" + method + "\r\n");
        RecordedEngine r(server.Url("/info.txt"));
        r.Check();
        EXPECT_EQ(r.events, (Events{"BeginUpgrade", "ask [<b>New</b>\r\nrelease] http://example.com/new.html",
                                    "ConfirmUpgrade", "Aborted"}))
            << method;
        EXPECT_EQ(r.beginFiles, (std::vector<std::string>{"http://example.com/a.exe", "http://example.com/b.dll"}));
        EXPECT_EQ(r.beginMethod, *method == '1' ? umUseExternalSetup : umSelfUpgrade);
        EXPECT_EQ(r.engine->MoreInfoURL(), "http://example.com/new.html");
    }
    server.PutFile("info.txt", std::string(NewRelease) + "#method=2\r\n");
    RecordedEngine redirect(server.Url("/info.txt"));
    redirect.Check();
    EXPECT_EQ(redirect.events, (Events{"BeginUpgrade", "ask [<b>New</b>\r\nrelease] http://example.com/new.html",
                                       "browser \"http://example.com/a.exe\""}));
}

TEST(UpgradeDecision, MoreInfoOfTheQuestion)
{
    HttpTestServer server;
    server.PutFile("info.txt", NewRelease);
    RecordedEngine r(server.Url("/info.txt"));
    bool askedInsideTheTransfer = true;
    r.engine->Prompts.AskUpgrade = [&](const std::string&, const std::string& url, const TauMoreInfo& moreInfo) {
        askedInsideTheTransfer = InSendMessage() != FALSE;
        EXPECT_FALSE(moreInfo.Preload) << "no what's-new window plugged in";
        moreInfo.Show(url);
        return false;
    };
    r.Check();
    EXPECT_EQ(r.events, (Events{"BeginUpgrade", "browser \"http://example.com/new.html\"", "LaterUpgrade"}))
        << "without a what's-new window More Info opens the page through OpenURL";
    EXPECT_FALSE(askedInsideTheTransfer) << "the question is not asked inside the worker's call";

    r.events.clear();
    r.engine->Prompts.PreloadInfo = [&](const std::string& url) { r.events.push_back("preload " + url); };
    r.engine->Prompts.ShowInfo = [&](const std::string& url) { r.events.push_back("what's new " + url); };
    r.engine->Prompts.AskUpgrade = [&](const std::string&, const std::string& url, const TauMoreInfo& moreInfo) {
        moreInfo.Preload(url);
        moreInfo.Show(url);
        return false;
    };
    r.Check();
    EXPECT_EQ(r.events, (Events{"BeginUpgrade", "preload http://example.com/new.html",
                                "what's new http://example.com/new.html", "LaterUpgrade"}));

    // A page that is no web address is not offered, so nothing loads it.
    r.engine->Prompts.AskUpgrade = [&](const std::string&, const std::string& url, const TauMoreInfo&) {
        r.events.push_back("ask with page [" + url + "]");
        return false;
    };
    for (const std::string page : {"file:///C:/windows/win.ini", "\\\\127.0.0.1\\share\\new.html"}) {
        r.events.clear();
        server.PutFile("info.txt", "#moreinfourl=" + page + "\r\n" + NewRelease);
        r.Check();
        EXPECT_EQ(r.events, (Events{"BeginUpgrade", "ask with page []", "LaterUpgrade"})) << page;
        EXPECT_EQ(r.engine->MoreInfoURL(), page) << "kept as read";
    }
}

TEST(UpgradeDecision, ByDate)
{
    HttpTestServer server;
    server.PutFile("info.txt", "#date=05/04/2004\r\n#url=http://example.com/a.exe\r\n");
    RecordedEngine r(server.Url("/info.txt"));
    r.engine->VersionControl = byDate;
    r.engine->VersionDate = "05/03/2004";
    r.engine->ShowMessages.Exclude(mAskUpgrade);
    r.Check();
    EXPECT_EQ(r.events, (Events{"BeginUpgrade", "ConfirmUpgrade", "Aborted"})) << "no question without mAskUpgrade";
    r.events.clear();
    r.engine->VersionDate = "05/04/2004";
    r.Check();
    EXPECT_EQ(r.events, Events{"NoUpdateAvailable"});
}

TEST(UpgradeDecision, VetoLaterAndEmptiedList)
{
    HttpTestServer server;
    server.PutFile("info.txt", std::string(NewRelease) + "#method=2\r\n");
    RecordedEngine vetoed(server.Url("/info.txt"));
    vetoed.vetoInBegin = true;
    vetoed.Check();
    EXPECT_EQ(vetoed.events, (Events{"BeginUpgrade", "LaterUpgrade"})) << "no question after a veto";

    RecordedEngine later(server.Url("/info.txt"));
    later.answerYes = false;
    later.Check();
    EXPECT_EQ(later.events, (Events{"BeginUpgrade", "ask [<b>New</b>\r\nrelease] http://example.com/new.html",
                                    "LaterUpgrade"}));

    RecordedEngine emptied(server.Url("/info.txt"));
    emptied.clearFilesInBegin = true;
    emptied.Check();
    EXPECT_EQ(emptied.events, (Events{"BeginUpgrade", "ask [<b>New</b>\r\nrelease] http://example.com/new.html",
                                      "LaterUpgrade"}))
        << "nothing to open or download";
}

TEST(UpgradeDecision, HandlerMayAbortOrDestroyTheEngine)
{
    HttpTestServer server;
    server.PutFile("info.txt", NewRelease);
    RecordedEngine aborting(server.Url("/info.txt"));
    aborting.engine->OnBeginUpgrade = [&](TauAutoUpgrader& sender, const std::string&, TacUpgradeMethod,
                                          std::vector<std::string>&, bool&) {
        aborting.events.push_back("BeginUpgrade");
        sender.AbortUpgrade();
    };
    aborting.Check();
    EXPECT_EQ(aborting.events, (Events{"BeginUpgrade", "Aborted"}));

    RecordedEngine destroying(server.Url("/info.txt"));
    destroying.engine->OnBeginUpgrade = [&](TauAutoUpgrader&, const std::string&, TacUpgradeMethod,
                                            std::vector<std::string>&, bool&) {
        destroying.events.push_back("BeginUpgrade");
        destroying.engine.reset();
    };
    destroying.engine->CheckUpdate();
    ASSERT_TRUE(PumpUntil([&] { return !destroying.engine; }, 60000));
    PumpMessagesFor(100);
    EXPECT_EQ(destroying.events, Events{"BeginUpgrade"});
}

TEST(UpgradeDecision, BadInformationFilesDecideSafely)
{
    HttpTestServer server;
    std::string binary;
    for (int i = 0; i < 5000; ++i)
        binary += static_cast<char>(i * 37 % 256);
    const struct {
        std::string body;
        Events expected;
    } cases[] = {
        {"", {"NoUpdateAvailable"}},
        {binary, {"NoUpdateAvailable"}},
        {"#version=1..2\r\n#url=a", {"NoUpdateAvailable"}},
        {"#version=-1\r\n#url=a", {"NoUpdateAvailable"}},
        {"#version=99999999999\r\n#url=a", {"BeginUpgrade", "ask [] ", "ConfirmUpgrade", "Aborted"}},
    };
    for (const auto& c : cases) {
        server.PutFile("info.txt", c.body);
        RecordedEngine r(server.Url("/info.txt"));
        r.Check();
        EXPECT_EQ(r.events, c.expected) << c.body.substr(0, 30);
    }
    server.PutFile("info.txt", "#date=13/45/2004\r\n#url=a");
    RecordedEngine date(server.Url("/info.txt"));
    date.engine->VersionControl = byDate;
    date.Check();
    EXPECT_EQ(date.events, Events{"NoUpdateAvailable"}) << "an impossible date counts as today";
}

TEST(UpgradeDecision, HugeInformationFileEndsAsALostConnection)
{
    HttpTestServer server;
    RecordedEngine r(server.Url("/gen/1100000"));
    r.Check();
    EXPECT_EQ(r.events, (Events{"ConnLost", "error"})) << "over the 1 MiB cap";
    EXPECT_EQ(r.lastError, UpgraderText(umsgConnectionLost));
}

TEST(UpgradeDecision, MissingInformationFile)
{
    HttpTestServer server;
    RecordedEngine r(server.Url("/missing.txt"));
    r.Check();
    EXPECT_EQ(r.events, Events{"NoInfoFile"});
    r.events.clear();
    r.engine->ShowMessages.Include(mNoInfoFile);
    r.Check();
    EXPECT_EQ(r.events, (Events{"NoInfoFile", "error"}));
    EXPECT_EQ(r.lastError, UpgraderText(umsgNoInfoFile));
}

TEST(UpgradeDecision, HostUnreachable)
{
    RecordedEngine r("http://127.0.0.1:1/info.txt");
    r.Check();
    EXPECT_EQ(r.events, Events{"HostUnreachable http://127.0.0.1:1/info.txt 127.0.0.1"});
    r.events.clear();
    r.engine->ShowMessages.Include(mHostUnreachable);
    r.Check();
    EXPECT_EQ(r.events, (Events{"HostUnreachable http://127.0.0.1:1/info.txt 127.0.0.1", "error"}));
    EXPECT_EQ(r.lastError, UpgraderText(umsgHostUnreachable, {L"'http://127.0.0.1'"}));
}

TEST(UpgradeDecision, PasswordAnsweredByTheDialog)
{
    HttpTestServer server;
    server.PutFile("info.txt", "#version=1.0\r\n#url=a\r\n");
    RecordedEngine r(server.Url("/info.txt?auth=alice:secret&realm=Updates"));
    r.passwordUser = "alice";
    r.Check();
    EXPECT_EQ(r.events, (Events{"PasswordRequest Updates", "password dialog", "NoUpdateAvailable"}));
    EXPECT_EQ(r.engine->HTTPUsername, "alice");
    EXPECT_NE(r.passwordText.find("\"info.txt?auth=alice:secret&realm=Updates\""), std::string::npos)
        << r.passwordText;

    RecordedEngine cancelled(server.Url("/info.txt?auth=bob:other"));
    cancelled.Check();
    EXPECT_EQ(cancelled.events, (Events{"PasswordRequest Keldora Test", "password dialog", "Aborted"}));
}

TEST(UpgradeDecision, OpenURLPassesOnlyWebAddresses)
{
    RecordedEngine r("http://");
    EXPECT_TRUE(r.engine->OpenURL("example.com/page"));
    EXPECT_FALSE(r.engine->OpenURL("file:///c:/windows/notepad.exe"));
    EXPECT_FALSE(r.engine->OpenURL("http://x/\" --evil"));
    EXPECT_FALSE(r.engine->OpenURL("http://x/\tpage"));
    EXPECT_EQ(r.events, Events{"browser \"http://example.com/page\""});
}

TEST(UpgradeDecision, AutoCheckTimerReachesTheEngine)
{
    HttpTestServer server;
    server.PutFile("info.txt", "#version=1.0\r\n#url=a\r\n");
    RecordedEngine r(server.Url("/info.txt"));
    r.engine->ShowMessages.Include(mNoUpdateAvailable);
    r.engine->SetAutoCheck(true);
    SendMessageW(r.engine->MessageWindow(), WM_TIMER, 1, 0);
    const bool online = IsConnectedToNet();
    EXPECT_EQ(r.engine->AutoCheckRunning(), online);
    if (!online)
        return;
    ASSERT_TRUE(PumpUntil([&] { return !r.engine->Busy(); }, 60000));
    PumpMessagesFor(50);
    EXPECT_EQ(r.events, Events{"NoUpdateAvailable"}) << "an automatic check shows no box";
}

}  // namespace
