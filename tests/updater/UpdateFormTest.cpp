// The update window in this process against the test server, every outcome in
// silent and visible mode; then freshet.exe itself as a real process: a whole
// silent update of a product, launcher mode and bad command lines.
#include "updater/UpdateFormUnit.h"

#include "Publisher.h"
#include "HttpTestServer.h"
#include "common/AccessibleTree.h"
#include "common/ScratchFolder.h"
#include "common/TextLines.h"
#include "common/WineSupport.h"
#include "common/AppPaths.h"
#include "common/Environment.h"
#include "update/auUpgraderDialogs.h"
#include "widgets/GdiCanvas.h"
#include "winutil/ComApartment.h"
#include "winutil/OwnedWindow.h"
#include "winutil/ProfileFile.h"
#include "winutil/WideText.h"
#include "winutil/WindowDpi.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace {

constexpr const char* kFailedURL = "http://downloads.example.com/product";

// The product's window: counts the close requests it receives.
class StarterWindow {
public:
    StarterWindow()
    {
        RegisterOwnedWindowClass(L"KeldoraTestStarter", Procedure);
        window_.reset(CreateWindowExW(0, L"KeldoraTestStarter", L"", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
        closeRequests = 0;
    }
    std::string HandleText() const { return std::to_string(reinterpret_cast<std::uintptr_t>(window_.get())); }

    static inline int closeRequests = 0;

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message == TUpdateForm::kCloseProductMessage)
            ++closeRequests;
        return DefWindowProcW(window, message, wParam, lParam);
    }
    UniqueWindow window_;
};

// Dispatches messages until the updater has asked to quit.
bool PumpUntilQuit(DWORD timeoutMs = 60000)
{
    const DWORD start = GetTickCount();
    while (GetTickCount() - start < timeoutMs) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT)
                return true;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    }
    return false;
}

// One run of the update window with its settings in a scratch folder; the
// engine's questions and the browser are answered here, its message boxes
// and its log written to files. A plain http server's update.ini lets
// releases no signature covers in (AllowUnverifiedUpdates=1).
struct UpdaterRun {
    HttpTestServer server;
    ScratchFolder folder{"freshet"};
    const std::string messageLog = folder.PathOf("messages.txt");
    EnvVarScope messages{"KDAGENT_MESSAGE_LOG", messageLog};
    const std::string updaterLog = folder.PathOf("freshet.log");
    EnvVarScope logTo{"KDUPDATER_LOG", updaterLog};
    UniqueWindow application = CreateApplicationWindow();
    StarterWindow starter;
    TUpdateForm* form = nullptr;
    bool answerYes = true;
    int asked = 0;
    std::vector<std::string> opened;
    bool everVisible = false;

    explicit UpdaterRun(const std::string& infoPath = "/info.txt", const std::string& failedURL = kFailedURL,
                        ServerScheme scheme = ServerScheme::Http)
        : server(scheme)
    {
        WriteSettings(server.Url(infoPath), failedURL);
        if (scheme == ServerScheme::Http)
            Set("AllowUnverifiedUpdates", "1");
    }

    void WriteSettings(const std::string& infoURL, const std::string& failedURL) const
    {
        Set("Version", "1.0");
        Set("InfoURL", infoURL);
        Set("FailedURL", failedURL);
    }
    void Set(const char* key, const std::string& value) const
    {
        ProfileFile(folder.PathOf("update.ini")).WriteString("UpdateInfo", key, value);
    }

    // An information file for version 2.0 listing the given release files
    // (their addresses on the server, or whole addresses).
    std::string InfoText(const std::vector<std::string>& files) const
    {
        std::string text = "#version=2.0\r\n#message=A <b>better</b> release\r\n";
        const char* keys[] = {"url", "url0", "url3"};
        for (std::size_t i = 0; i < files.size(); ++i) {
            const bool whole = files[i].rfind("http", 0) == 0;
            text += std::string("#") + keys[i] + "=" + (whole ? files[i] : server.Url("/" + files[i])) + "\r\n";
        }
        return text;
    }
    void Publish(const std::vector<std::string>& files) const { server.PutFile("info.txt", InfoText(files)); }

    std::unique_ptr<TUpdateForm> NewForm(const std::string& starterText)
    {
        auto created = std::make_unique<TUpdateForm>(starterText, folder.Path() + "\\");
        form = created.get();
        TauUpgraderPrompts& prompts = created->Updater.Prompts;
        prompts.AskUpgrade = [this](const std::string&, const std::string&, const TauMoreInfo&) {
            ++asked;
            return answerYes;
        };
        prompts.OpenBrowser = [this](const std::string& url) { opened.push_back(url); };
        // The release is not installed over the test program: the run stops
        // where the stub would take over.
        created->Updater.OnEndUpgrade = [](TauAutoUpgrader& engine) { engine.AbortUpgrade(); };
        created->Updater.OnBeginUpgrade = [this](TauAutoUpgrader&, const std::string&, TacUpgradeMethod,
                                                 std::vector<std::string>&, bool&) { Observe(); };
        return created;
    }
    std::unique_ptr<TUpdateForm> NewForm() { return NewForm(starter.HandleText()); }

    void Observe() { everVisible = everVisible || IsWindowVisible(form->Handle()); }

    // Runs a form to its end; the modal result in visible mode.
    int Run(std::unique_ptr<TUpdateForm> created, bool silent)
    {
        const int result = TUpdateForm::Start(std::move(created), silent, application.get());
        EXPECT_TRUE(PumpUntilQuit()) << "the updater ends by itself";
        EXPECT_FALSE(TUpdateForm::Exists());
        EXPECT_EQ(FindWindowW(L"TBaseSubForm", L"Freshet!"), nullptr) << "the window is freed";
        return result;
    }
    int Run(bool silent) { return Run(NewForm(), silent); }

    std::vector<std::string> Messages() const { return Lines(ReadWholeFile(messageLog)); }
    std::string Log() const { return ReadWholeFile(updaterLog); }
    // Whether the server was asked for the file.
    bool Requested(const std::string& name) const { return server.RequestLog().find("/" + name) != std::string::npos; }
};

// An address as the value of a query: its own query characters escaped.
std::string Escaped(const std::string& url)
{
    std::string escaped;
    for (char c : url)
        escaped += c == '?' ? "%3F" : c == '=' ? "%3D" : c == '&' ? "%26" : std::string(1, c);
    return escaped;
}

// The refused-release box as the update window shows it, for a reason that starts so.
bool IsRefusedBox(const std::string& line, const std::string& reason)
{
    const std::string start = "Freshet!|10|The update was refused because it could not be verified as a genuine "
                              "release of this program. Nothing has been installed.\\r\\rReason: ";
    return line.rfind(start + reason, 0) == 0;
}

const std::string kNoUpdateBox = "Freshet!|40|No update available. You are using the latest version";
const std::string kAbortedBox = "Freshet!|10|Update aborted.";
const std::string kFallBackBox = "Freshet!|10|Sorry but for some reason, Freshet can't connect to the update server, "
                                 "click OK to directly download the latest version from our site.";

} // namespace

TEST(UpdateForm, WindowLayoutEngineSettingsAndNoTaskbarButton)
{
    UpdaterRun run;
    run.server.PutFile("info.txt", "#version=1.0\r\n");
    auto created = run.NewForm();
    TUpdateForm& form = *created;
    created->Updater.OnNoUpdateAvailable = [&](TauAutoUpgrader&) {
        RECT client = {};
        GetClientRect(form.Handle(), &client);
        EXPECT_EQ(client.right, 346);
        EXPECT_EQ(client.bottom, 136);
        const HWND owner = GetWindow(form.Handle(), GW_OWNER);
        EXPECT_EQ(owner, run.application.get());
        EXPECT_TRUE(GetWindowLongW(owner, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
        EXPECT_FALSE(IsWindowVisible(owner));
        EXPECT_TRUE(GetWindowLongW(form.Handle(), GWL_EXSTYLE) & WS_EX_TOPMOST);
        EXPECT_FALSE(GetWindowLongW(form.Handle(), GWL_STYLE) & WS_SYSMENU) << "no caption buttons";
        EXPECT_EQ(form.Updater.VersionNumber, "1.0");
        EXPECT_EQ(form.Updater.InfoFileURL, run.server.Url("/info.txt"));
        EXPECT_EQ(form.Updater.RestartParams(), "/verysilent");
        EXPECT_EQ(form.Updater.TransferBufferSize, 256 * 1024);
        EXPECT_FALSE(form.Updater.Wizard.Enabled);
        EXPECT_EQ(form.Updater.ShowMessages, TauAutoUpgraderShowMessages{mAskUpgrade});
        EXPECT_FALSE(form.UpdateButton().Glyph().Empty());
        EXPECT_FALSE(form.CancelButton().Glyph().Empty());
        form.Close();
    };
    run.Run(std::move(created), true);
    EXPECT_TRUE(run.Messages().empty());
}

TEST(UpdateForm, AnUnverifiedReleaseIsRefusedWithItsOwnTextAndNoDownloadPage)
{
    // Plain http, no publisher key, no opt-out: "no update" still reads.
    UpdaterRun current;
    current.Set("AllowUnverifiedUpdates", "0");
    current.server.PutFile("info.txt", "#version=1.0\r\n#url=" + current.server.Url("/app.bin") + "\r\n");
    current.Run(false);
    EXPECT_EQ(current.Messages(), std::vector<std::string>{kNoUpdateBox});

    // A newer release is neither offered nor downloaded, and is no outage;
    // only "1" opts out.
    UpdaterRun visible;
    visible.Set("AllowUnverifiedUpdates", "yes");
    visible.server.PutFile("app.bin", "new program");
    visible.Publish({"app.bin"});
    visible.Run(false);
    EXPECT_EQ(visible.asked, 0);
    ASSERT_EQ(visible.Messages().size(), 1u);
    EXPECT_TRUE(IsRefusedBox(visible.Messages()[0], "the information file did not come over https ("))
        << visible.Messages()[0];
    EXPECT_TRUE(visible.opened.empty()) << "no download page";
    EXPECT_FALSE(visible.Requested("app.bin"));
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(GetAppFolder() + "app.bin.uTMP").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(UpdateForm, OverHttpsWithoutAKeyAReleaseIsOfferedUnlessAFileLeavesHttps)
{
    HttpTestServer plain;
    plain.PutFile("app.bin", "new program over http");

    // Everything over https (the test's own certificate authority, trusted by the prefix).
    UpdaterRun offered("/info.txt", kFailedURL, ServerScheme::Https);
    offered.server.PutFile("app.bin", "new program");
    offered.Publish({"app.bin"});
    offered.answerYes = false;
    offered.Run(false);
    EXPECT_EQ(offered.asked, 1) << offered.Log();
    EXPECT_TRUE(offered.Messages().empty());

    // A listed file over plain http: refused before anything is asked.
    UpdaterRun listed("/info.txt", kFailedURL, ServerScheme::Https);
    listed.Publish({plain.Url("/app.bin")});
    listed.Run(false);
    EXPECT_EQ(listed.asked, 0);
    ASSERT_EQ(listed.Messages().size(), 1u);
    EXPECT_TRUE(IsRefusedBox(listed.Messages()[0], "the release file " + plain.Url("/app.bin") + " is not"))
        << listed.Messages()[0];

    // An information file asked for over plain http and redirected to https: refused,
    // since anyone on the first way could have chosen the https address.
    UpdaterRun detour("/info.txt", kFailedURL, ServerScheme::Https);
    detour.server.PutFile("app.bin", "new program");
    detour.Publish({"app.bin"});
    const std::string detourInfo = plain.Url("/info.txt?redirect=" + detour.server.Url("/info.txt"));
    detour.Set("InfoURL", detourInfo);
    detour.Run(false);
    EXPECT_EQ(detour.asked, 0);
    ASSERT_EQ(detour.Messages().size(), 1u);
    EXPECT_TRUE(IsRefusedBox(detour.Messages()[0], "the information file did not come over https (" + detourInfo))
        << detour.Messages()[0];

    // A handler of the engine lists a plain http file of its own: refused before the question too.
    UpdaterRun added("/info.txt", kFailedURL, ServerScheme::Https);
    added.server.PutFile("app.bin", "new program");
    added.Publish({"app.bin"});
    auto form = added.NewForm();
    form->Updater.OnBeginUpgrade = [&](TauAutoUpgrader&, const std::string&, TacUpgradeMethod,
                                       std::vector<std::string>& files, bool&) {
        files.push_back(plain.Url("/app.bin"));
    };
    added.Run(std::move(form), false);
    EXPECT_EQ(added.asked, 0);
    ASSERT_EQ(added.Messages().size(), 1u);
    EXPECT_TRUE(IsRefusedBox(added.Messages()[0], "the release file " + plain.Url("/app.bin") + " is not"));

    // An https file that redirects to plain http: stopped at its headers, nothing stored.
    UpdaterRun redirected("/info.txt", kFailedURL, ServerScheme::Https);
    const std::string moved = "kd-moved.bin?redirect=" + plain.Url("/app.bin");
    redirected.Publish({moved});
    redirected.Run(false);
    EXPECT_EQ(redirected.asked, 1);
    ASSERT_EQ(redirected.Messages().size(), 1u);
    EXPECT_TRUE(IsRefusedBox(redirected.Messages()[0], "the download of " + redirected.server.Url("/" + moved) +
                                                           " came from " + plain.Url("/app.bin") + ", not over https"))
        << redirected.Messages()[0];
    EXPECT_TRUE(redirected.opened.empty()) << "no download page";
    EXPECT_TRUE(plain.RequestLog().find("/app.bin") != std::string::npos) << "the redirect was followed";
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(GetAppFolder() + "app.bin.uTMP").c_str()), INVALID_FILE_ATTRIBUTES);

    // https, then plain http, then https again: the hop in between counts.
    UpdaterRun between("/info.txt", kFailedURL, ServerScheme::Https);
    between.server.PutFile("app.bin", "new program");
    const std::string hop = plain.Url("/hop?redirect=" + between.server.Url("/app.bin"));
    between.Publish({"kd-moved.bin?redirect=" + Escaped(hop)});
    between.Run(false);
    ASSERT_EQ(between.Messages().size(), 1u);
    EXPECT_NE(between.Messages()[0].find(" came from " + hop + ", not over https"), std::string::npos)
        << between.Messages()[0];
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(GetAppFolder() + "app.bin.uTMP").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST(UpdateForm, ARefusedDigestHasItsOwnTextAndOpensNoDownloadPage)
{
    const Publisher publisher("form");
    UpdaterRun run;
    run.Set("PublicKey", publisher.PublicKey());
    run.Set("Product", "Keldora");
    run.server.PutFile("kd-signed-a.bin", "first file");
    run.server.PutFile("kd-signed-b.bin", "second file");
    const std::string info = run.InfoText({"kd-signed-a.bin", "kd-signed-b.bin"}) + "#product=KELDORA\r\n#sha256=" +
                             publisher.Digest(run.server.Root() + "kd-signed-a.bin") + "\r\n#sha256_0=" +
                             publisher.Digest(run.server.Root() + "kd-signed-b.bin") + "\r\n";
    run.server.PutFile("info.txt", publisher.Signed(info));
    run.server.PutFile("kd-signed-b.bin", "second filE");
    run.Run(false);
    EXPECT_EQ(run.asked, 1) << run.Log();
    ASSERT_EQ(run.Messages().size(), 1u) << "neither the fallback nor \"Update aborted.\"";
    EXPECT_TRUE(IsRefusedBox(run.Messages()[0], "the download of " + run.server.Url("/kd-signed-b.bin") +
                                                    " does not match its SHA-256 digest"))
        << run.Messages()[0];
    EXPECT_TRUE(run.opened.empty());
    for (const char* left : {"kd-signed-a.bin.uTMP", "kd-signed-b.bin.uTMP"})
        EXPECT_EQ(GetFileAttributesW(WideFromUtf8(GetAppFolder() + left).c_str()), INVALID_FILE_ATTRIBUTES) << left;
}

TEST(UpdateForm, WithoutAKeyTheDigestsAnHttpsFileGivesAreCheckedToo)
{
    UpdaterRun run("/info.txt", kFailedURL, ServerScheme::Https);
    run.server.PutFile("kd-given-a.bin", "first file");
    run.server.PutFile("kd-given-b.bin", "second file of the other release");
    // a's digest is right, b's is that of another release's file; b then has a size that is no number.
    const std::string digest = std::string(64, 'a');
    run.server.PutFile("info.txt", run.InfoText({"kd-given-a.bin", "kd-given-b.bin"}) + "#sha256=" +
                                       Publisher("given").Digest(run.server.Root() + "kd-given-a.bin") +
                                       "\r\n#sha256_0=" + digest + "\r\n");
    run.Run(false);
    EXPECT_EQ(run.asked, 1) << run.Log();
    ASSERT_EQ(run.Messages().size(), 1u);
    EXPECT_TRUE(IsRefusedBox(run.Messages()[0], "the download of " + run.server.Url("/kd-given-b.bin") +
                                                    " does not match its SHA-256 digest"))
        << run.Messages()[0];
    EXPECT_TRUE(run.opened.empty()) << "no download page";
    for (const char* left : {"kd-given-a.bin.uTMP", "kd-given-b.bin.uTMP"})
        EXPECT_EQ(GetFileAttributesW(WideFromUtf8(GetAppFolder() + left).c_str()), INVALID_FILE_ATTRIBUTES) << left;

    // A malformed digest is refused before anything is asked.
    UpdaterRun garbled("/info.txt", kFailedURL, ServerScheme::Https);
    garbled.server.PutFile("kd-given-a.bin", "first file");
    garbled.server.PutFile("info.txt", garbled.InfoText({"kd-given-a.bin"}) + "#sha256=12345\r\n");
    garbled.Run(false);
    EXPECT_EQ(garbled.asked, 0);
    ASSERT_EQ(garbled.Messages().size(), 1u);
    EXPECT_TRUE(IsRefusedBox(garbled.Messages()[0], "the SHA-256 digest of " + garbled.server.Url("/kd-given-a.bin") +
                                                        " is not 64 hexadecimal digits"))
        << garbled.Messages()[0];
}

TEST(UpdateForm, AKeyWithoutProductRefusesEveryReleaseWithItsOwnText)
{
    const Publisher publisher("noproduct");
    UpdaterRun run;
    run.Set("PublicKey", publisher.PublicKey());
    run.server.PutFile("kd-other.bin", "another product's file");
    run.server.PutFile("info.txt", publisher.Signed(run.InfoText({"kd-other.bin"}) + "#product=Other Product\r\n#sha256=" +
                                                    publisher.Digest(run.server.Root() + "kd-other.bin") + "\r\n"));
    run.Run(false);
    EXPECT_EQ(run.asked, 0);
    ASSERT_EQ(run.Messages().size(), 1u) << "no download page either";
    EXPECT_EQ(run.Messages()[0].rfind("Freshet!|10|This program's update settings (update.ini) hold the publisher's "
                                      "key but no product name (Product=)", 0),
              0u)
        << run.Messages()[0];
    EXPECT_NE(run.Messages()[0].find("Reason: update.ini holds the publisher key (PublicKey) but names no product"),
              std::string::npos);
    EXPECT_TRUE(run.opened.empty());
    EXPECT_FALSE(run.Requested("kd-other.bin"));

    // Silent: the same reason in the log, no box.
    UpdaterRun silent;
    silent.Set("PublicKey", publisher.PublicKey());
    silent.server.PutFile("info.txt", ReadWholeFile(run.server.Root() + "info.txt"));
    silent.Run(true);
    EXPECT_TRUE(silent.Messages().empty());
    EXPECT_NE(silent.Log().find("release refused: update.ini holds the publisher key (PublicKey) but names no product"),
              std::string::npos)
        << silent.Log();
}

// A publisher moves from key A to key B: update.ini lists both while
// releases signed by either install; a list that cannot be used refuses.
TEST(UpdateForm, AnyOfUpToThreeKeysVerifiesAndABadKeyListIsRefused)
{
    const Publisher oldKey("rotation-old");
    const Publisher newKey("rotation-new");
    const auto signedBy = [](const Publisher& publisher, UpdaterRun& run) {
        run.Set("Product", "Keldora");
        run.server.PutFile("kd-rotated.bin", "rotated file");
        run.server.PutFile("info.txt", publisher.Signed(run.InfoText({"kd-rotated.bin"}) + "#product=Keldora\r\n#sha256=" +
                                                        publisher.Digest(run.server.Root() + "kd-rotated.bin") + "\r\n"));
    };
    for (const Publisher* signer : {&oldKey, &newKey}) {
        UpdaterRun run;
        run.answerYes = false;
        run.Set("PublicKey", oldKey.PublicKey() + " " + newKey.PublicKey());
        signedBy(*signer, run);
        run.Run(false);
        EXPECT_EQ(run.asked, 1) << run.Log();
        EXPECT_TRUE(run.Messages().empty()) << run.Log();
    }
    // Once the old key is dropped, a file it signed is refused.
    UpdaterRun dropped;
    dropped.Set("PublicKey", newKey.PublicKey());
    signedBy(oldKey, dropped);
    dropped.Run(false);
    EXPECT_EQ(dropped.asked, 0);
    ASSERT_EQ(dropped.Messages().size(), 1u);
    EXPECT_TRUE(IsRefusedBox(dropped.Messages()[0], "the signature of the information file does not verify with the "
                                                    "publisher key"))
        << dropped.Messages()[0];

    const std::string a = oldKey.PublicKey();
    const std::string b = newKey.PublicKey();
    const std::pair<std::string, std::string> lists[] = {
        {a + " " + b + " " + a + " " + b, "list more than 3 keys"},
        {a + "  " + b, "an empty key between two blanks"},
        {b + " bm90IGEga2V5", "the publisher key 2 of PublicKey is not the base64 of a P-256 public key"},
        {a + " " + b, "verifies with none of the publisher keys"},
    };
    const Publisher stranger("rotation-stranger");
    for (const auto& [list, reason] : lists) {
        UpdaterRun run;
        run.Set("PublicKey", list);
        signedBy(stranger, run);
        run.Run(false);
        EXPECT_EQ(run.asked, 0) << reason;
        ASSERT_EQ(run.Messages().size(), 1u) << reason;
        EXPECT_NE(run.Messages()[0].find(reason), std::string::npos) << run.Messages()[0];
    }
}

TEST(UpdateForm, NoUpdateVisibleTellsTheUserSilentEndsQuietly)
{
    UpdaterRun run;
    run.server.PutFile("info.txt", "#version=1.0\r\n");
    auto created = run.NewForm();
    auto original = created->Updater.OnNoUpdateAvailable;
    std::string status;
    bool updateEnabled = true;
    created->Updater.OnNoUpdateAvailable = [&](TauAutoUpgrader& engine) {
        status = run.form->StatusText();
        updateEnabled = run.form->UpdateButton().Enabled();
        run.Observe();
        original(engine);
    };
    EXPECT_EQ(run.Run(std::move(created), false), 1) << "modal result OK";
    EXPECT_EQ(status, "Freshet! is downloading required files...");
    EXPECT_FALSE(updateEnabled);
    EXPECT_TRUE(run.everVisible);
    EXPECT_EQ(run.Messages(), std::vector<std::string>{kNoUpdateBox});

    UpdaterRun silent;
    silent.server.PutFile("info.txt", "#version=1.0\r\n");
    EXPECT_EQ(silent.Run(true), 0);
    EXPECT_TRUE(silent.Messages().empty());
    EXPECT_TRUE(silent.opened.empty());
    EXPECT_EQ(silent.asked, 0);
}

TEST(UpdateForm, ServerFailuresFallBackToTheSiteOnlyWhenVisible)
{
    // No information file: the download page is offered.
    UpdaterRun missing("/missing.txt");
    missing.Run(false);
    EXPECT_EQ(missing.Messages(), std::vector<std::string>{kFallBackBox});
    ASSERT_EQ(missing.opened.size(), 1u);
    EXPECT_NE(missing.opened[0].find(kFailedURL), std::string::npos);

    // Nothing listens on the port.
    UpdaterRun unreachable;
    unreachable.WriteSettings("http://127.0.0.1:1/info.txt", kFailedURL);
    unreachable.Run(false);
    EXPECT_EQ(unreachable.Messages(), std::vector<std::string>{kFallBackBox});
    EXPECT_EQ(unreachable.opened.size(), 1u);

    // The fallback address is handed on only when it is a web address.
    UpdaterRun unsafe("/missing.txt", "file:///C:/windows/system32/cmd.exe");
    unsafe.Run(false);
    EXPECT_EQ(unsafe.Messages(), std::vector<std::string>{kFallBackBox});
    EXPECT_TRUE(unsafe.opened.empty());

    for (const char* path : {"/missing.txt", "/unreachable"}) {
        UpdaterRun silent(path);
        if (std::string(path) == "/unreachable")
            silent.WriteSettings("http://127.0.0.1:1/info.txt", kFailedURL);
        silent.Run(true);
        EXPECT_TRUE(silent.Messages().empty()) << path;
        EXPECT_TRUE(silent.opened.empty()) << path;
    }
}

TEST(UpdateForm, SilentUpgradeLaterEndsQuietlyConfirmedShowsProgressAndReportsALostFile)
{
    UpdaterRun later;
    later.server.PutFile("app.bin", "new program");
    later.Publish({"app.bin"});
    later.answerYes = false;
    later.Run(true);
    EXPECT_EQ(later.asked, 1);
    EXPECT_TRUE(later.Messages().empty());

    // Confirmed: the window comes up with the progress, then the second file is not served.
    UpdaterRun lost;
    lost.server.PutFile("kd-freshet-a.bin", PatternBytes(300000));
    lost.Publish({"kd-freshet-a.bin", "kd-freshet-missing.bin"});
    auto created = lost.NewForm();
    auto onProgress = created->Updater.OnProgress;
    std::vector<std::string> progress;
    created->Updater.OnProgress = [&](TauAutoUpgrader& engine, const std::string& url, std::int64_t size,
                                      std::int64_t read, int elapsed, int left, std::uint8_t percents,
                                      std::uint8_t total, float rate) {
        onProgress(engine, url, size, read, elapsed, left, percents, total, rate);
        lost.Observe();
        progress.push_back(lost.form->ProgressText());
        EXPECT_FALSE(lost.form->Silent()) << "reports reach the user once the window is shown";
    };
    lost.Run(std::move(created), true);
    EXPECT_TRUE(lost.everVisible);
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress.back(), "Status: Downloading \"kd-freshet-a.bin\"... 292 kb/ 292 kb");
    EXPECT_EQ(lost.Messages(), (std::vector<std::string>{kFallBackBox, kAbortedBox}));
    EXPECT_EQ(lost.opened.size(), 1u);
    EXPECT_EQ(StarterWindow::closeRequests, 0);
    for (const char* left : {"kd-freshet-a.bin", "kd-freshet-a.bin.uTMP"})
        EXPECT_EQ(GetFileAttributesW(WideFromUtf8(GetAppFolder() + left).c_str()), INVALID_FILE_ATTRIBUTES) << left;
}

TEST(UpdateForm, CancelClosesAtOnceOrAbortsTheRunningDownload)
{
    // Nothing runs while the question is open: Cancel just closes.
    UpdaterRun idle;
    idle.server.PutFile("app.bin", "new program");
    idle.Publish({"app.bin"});
    auto created = idle.NewForm();
    created->Updater.Prompts.AskUpgrade = [&](const std::string&, const std::string&, const TauMoreInfo&) {
        idle.form->CancelButton().Click();
        return true;
    };
    idle.Run(std::move(created), false);
    EXPECT_TRUE(idle.Messages().empty());

    UpdaterRun busy;
    busy.server.PutFile("kd-freshet-big.bin", PatternBytes(2000000));
    busy.Publish({"kd-freshet-big.bin"});
    auto downloading = busy.NewForm();
    auto onProgress = downloading->Updater.OnProgress;
    downloading->Updater.OnProgress = [&](TauAutoUpgrader& engine, const std::string& url, std::int64_t size,
                                          std::int64_t read, int elapsed, int left, std::uint8_t percents,
                                          std::uint8_t total, float rate) {
        onProgress(engine, url, size, read, elapsed, left, percents, total, rate);
        if (TUpdateForm::Exists())
            busy.form->CancelButton().Click();
    };
    busy.Run(std::move(downloading), false);
    EXPECT_EQ(busy.Messages(), std::vector<std::string>{kAbortedBox});
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(GetAppFolder() + "kd-freshet-big.bin.uTMP").c_str()),
              INVALID_FILE_ATTRIBUTES);
}

TEST(UpdateForm, CloseRequestGoesOnlyToAWindow)
{
    for (const std::string handle : {"", "0", "abc", "-5", "123456789"}) {
        UpdaterRun run;
        auto created = run.NewForm(handle);
        TUpdateForm& form = *created;
        created->Updater.OnNoInfoFile = [&](TauAutoUpgrader& engine) { form.Updater.OnDoOwnCloseAppMethod(engine); };
        run.Run(std::move(created), true);
        EXPECT_EQ(StarterWindow::closeRequests, 0) << handle;
    }
    UpdaterRun run;
    auto created = run.NewForm();
    TUpdateForm& form = *created;
    created->Updater.OnNoInfoFile = [&](TauAutoUpgrader& engine) { form.Updater.OnDoOwnCloseAppMethod(engine); };
    run.Run(std::move(created), true);
    EXPECT_EQ(StarterWindow::closeRequests, 1);
}

namespace {

// freshet.exe and a product beside it in a folder of their own.
struct ProductFolder {
    ScratchFolder folder{"freshet product"};
    const std::string record = folder.PathOf("record.txt");
    EnvVarScope recordTo{"KD_STUB_RECORD", record};
    const std::string messageLog = folder.PathOf("messages.txt");
    EnvVarScope messages{"KDAGENT_MESSAGE_LOG", messageLog};
    const std::string updaterLog = folder.PathOf("freshet.log");
    EnvVarScope logTo{"KDUPDATER_LOG", updaterLog};
    const std::string product = ReadWholeFile(GetAppFolder() + "stubproduct.exe");
    const std::string release = product + "-new release-";

    ProductFolder()
    {
        folder.CopyIn(GetAppFolder() + "freshet.exe", "app\\freshet.exe");
        folder.AddFile("app\\app.exe", product);
    }
    ~ProductFolder() { EndProgramsIn(App(), 30000); }
    std::string App(const std::string& name = {}) const { return folder.PathOf("app\\" + name); }
    void Settings(const std::string& processName, const std::string& infoURL) const
    {
        Set("ProcessName", processName);
        Set("Version", "1.0");
        Set("InfoURL", infoURL);
    }
    void Set(const char* key, const std::string& value) const
    {
        ProfileFile(App("update.ini")).WriteString("UpdateInfo", key, value);
    }
    DWORD Freshet(const std::string& arguments) const
    {
        const UniqueKernelHandle process = StartProcess("\"" + App("freshet.exe") + "\" " + arguments);
        return WaitForExit(process.get(), 60000);
    }
    // The product's starts so far, waiting up to the time given for at least `count`.
    std::vector<std::string> Starts(std::size_t count, DWORD timeoutMs = 60000) const
    {
        std::vector<std::string> lines;
        PumpUntil([&] { return (lines = Lines(ReadWholeFile(record))).size() >= count; }, timeoutMs);
        return lines;
    }
};

// A silent update answered Yes: the product (which starts the updater with
// its own window, as a product does) is closed, replaced and started again,
// and the folder holds only the new release.
void ExpectInstalled(const ProductFolder& product)
{
    const UniqueKernelHandle running = StartProcess("\"" + product.App("app.exe") + "\" --updater");
    ASSERT_TRUE(PressYesIn(product.App("freshet.exe")));
    EXPECT_EQ(WaitForExit(running.get(), 60000), 0u) << "the product obeyed the close request";
    // The stub starts the updater again with "/verysilent", which starts the product.
    const auto starts = product.Starts(2, 60000);
    ASSERT_EQ(starts.size(), 2u);
    EXPECT_EQ(starts[1].substr(0, product.App("app.exe").size()), product.App("app.exe"));
    EXPECT_NE(starts[1].find("|" + std::to_string(product.release.size()) + "|"), std::string::npos) << starts[1];
    EXPECT_EQ(ReadWholeFile(product.App("app.exe")), product.release);
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(product.App("app.exe.uTMP")).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(ReadWholeFile(product.messageLog), "");
}

// A refused release: the product is neither closed nor touched, nothing was downloaded.
void ExpectRefused(const ProductFolder& product, const HttpTestServer& server, const std::string& arguments)
{
    EXPECT_EQ(product.Freshet(arguments), 0u);
    EXPECT_EQ(StarterWindow::closeRequests, 0);
    EXPECT_EQ(ReadWholeFile(product.App("app.exe")), product.product);
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(product.App("app.exe.uTMP")).c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(server.RequestLog().find("/app.exe"), std::string::npos) << "nothing downloaded";
}

} // namespace

// Plain http without a publisher key: refused, logged when silent, told when
// visible; with the test-server opt-out a silent update closes the product,
// replaces it and starts it again.
TEST(Freshet, PlainHttpWithoutAKeyIsRefusedAndInstallsWithTheTestServerOptOut)
{
    HttpTestServer server;
    ProductFolder product;
    server.PutFile("app.exe", product.release);
    server.PutFile("info.txt", "#version=2.0\r\n#url=" + server.Url("/app.exe") + "\r\n");
    product.Settings("app.exe", server.Url("/info.txt"));
    product.Set("FailedURL", server.Url("/failed.html"));
    StarterWindow starter;

    ExpectRefused(product, server, "/silent " + starter.HandleText());
    EXPECT_NE(ReadWholeFile(product.updaterLog).find("release refused: the information file did not come over https (" +
                                                     server.Url("/info.txt") + ")"),
              std::string::npos)
        << ReadWholeFile(product.updaterLog);
    EXPECT_EQ(ReadWholeFile(product.messageLog), "");

    ExpectRefused(product, server, "update " + starter.HandleText());
    const auto boxes = Lines(ReadWholeFile(product.messageLog));
    ASSERT_EQ(boxes.size(), 1u) << "the refusal only, no fallback to the download page";
    EXPECT_TRUE(IsRefusedBox(boxes[0], "the information file did not come over https")) << boxes[0];

    product.Set("AllowUnverifiedUpdates", "1");
    WriteWholeFile(product.messageLog, "");
    ExpectInstalled(product);
}

TEST(Freshet, ASignedFileForAnotherProductOrExpiredIsRefusedTheRightOneInstalls)
{
    const Publisher publisher("freshet");
    HttpTestServer server;
    ProductFolder product;
    server.PutFile("app.exe", product.release);
    product.Settings("app.exe", server.Url("/info.txt"));
    product.Set("PublicKey", publisher.PublicKey());
    product.Set("Product", "Keldora Demo");
    const std::string release = "#version=2.0\r\n#url=" + server.Url("/app.exe") + "\r\n#sha256=" +
                                publisher.Digest(server.Root() + "app.exe") + "\r\n";
    StarterWindow starter;

    const std::pair<std::string, std::string> refused[] = {
        {"#product=Keldora Beta\r\n", "is for the product \"Keldora Beta\", not Keldora Demo"},
        {"", "names no product (#product=)"},
        {"#product=keldora demo\r\n#expires=2001-01-01T00:00:00Z\r\n", "expired at 2001-01-01T00:00:00Z"},
    };
    for (const auto& [lines, reason] : refused) {
        server.PutFile("info.txt", publisher.Signed(lines + release));
        ExpectRefused(product, server, "/silent " + starter.HandleText());
        EXPECT_NE(ReadWholeFile(product.updaterLog).find(reason), std::string::npos) << reason;
    }
    EXPECT_EQ(ReadWholeFile(product.messageLog), "");

    server.PutFile("info.txt", publisher.Signed("#product=keldora demo\r\n#expires=9999-12-31T23:59:59Z\r\n" + release));
    ExpectInstalled(product);
}


// Two products of two publishers, neither naming its Product, on one
// machine and one static server: what the first one's checks keep (its
// validators, its server's Retry-After) never reaches the second, which
// finds and installs its release.
TEST(Freshet, TwoProductsWithoutAProductNameKeepTheirOwnChecks)
{
    HttpTestServer server;
    StarterWindow starter;
    // The prefix's update state outlives the test: addresses of this run only.
    const std::string run = "&run=" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount64());
    server.PutFile("a.txt", "#version=1.0\r\n#url=" + server.Url("/a.exe") + "\r\n");
    {
        ProductFolder first;
        first.Settings("app.exe", server.Url("/a.txt?conditional=1" + run));
        first.Set("AllowUnverifiedUpdates", "1");
        EXPECT_EQ(first.Freshet("/silent " + starter.HandleText()), 0u);
        EXPECT_EQ(first.Freshet("/silent " + starter.HandleText()), 0u);
        const auto asked = server.RequestsFor("/a.txt");
        ASSERT_EQ(asked.size(), 2u);
        EXPECT_TRUE(IsConditionalRequest(asked[1])) << "the first product's own validators: " << asked[1];
        first.Settings("app.exe", server.Url("/a.txt?status=503&header=Retry-After:3600" + run));
        EXPECT_EQ(first.Freshet("/silent " + starter.HandleText()), 0u);
        EXPECT_EQ(first.Freshet("/silent " + starter.HandleText()), 0u);
        EXPECT_EQ(server.RequestsFor("/a.txt?status=503").size(), 1u) << "its server asked it to wait";
        EXPECT_EQ(ReadWholeFile(first.messageLog), "");
    }
    ProductFolder second;
    server.PutFile("app.exe", second.release);
    server.PutFile("b.txt", "#version=2.0\r\n#url=" + server.Url("/app.exe") + "\r\n");
    second.Settings("app.exe", server.Url("/b.txt?conditional=1" + run));
    second.Set("AllowUnverifiedUpdates", "1");
    ExpectInstalled(second);
    const auto asked = server.RequestsFor("/b.txt");
    ASSERT_FALSE(asked.empty());
    EXPECT_FALSE(IsConditionalRequest(asked[0])) << asked[0];
}

TEST(Freshet, LauncherModeStartsTheNamedProgramAndBadCommandLinesEndCleanly)
{
    ProductFolder product;
    EXPECT_EQ(product.Freshet(""), 1u) << "no update.ini: nothing started";
    product.Settings("", "");
    EXPECT_EQ(product.Freshet("one"), 1u) << "empty ProcessName: nothing started";
    product.Settings("app.exe", "");
    EXPECT_EQ(product.Freshet(""), 0u);
    EXPECT_EQ(product.Freshet("/silent 1 2"), 0u) << "three arguments launch";
    EXPECT_EQ(product.Starts(2).size(), 2u);

    // Updates that cannot reach any server end silently, whatever the handle says.
    product.folder.AddFile("app\\update.ini", std::string("\x00\xff[UpdateInfo\n=\x01", 14));
    for (const char* handle : {"abc", "0", "99999999999999999999999", "-1"})
        EXPECT_EQ(product.Freshet(std::string("/silent ") + handle), 0u) << handle;
    EXPECT_EQ(product.Starts(2).size(), 2u) << "nothing else started";
    EXPECT_EQ(ReadWholeFile(product.messageLog), "");
}

namespace {

// Runs `look` once on the update window during a confirmed silent update of
// a file long enough to download for a while, then lets the run end.
void WhileDownloading(UpdaterRun& run, const std::function<void(TUpdateForm& form)>& look)
{
    run.server.PutFile("kd-freshet-look.bin", PatternBytes(2000000));
    run.Publish({"kd-freshet-look.bin"});
    auto created = run.NewForm();
    auto onProgress = created->Updater.OnProgress;
    bool looked = false;
    created->Updater.OnProgress = [&](TauAutoUpgrader& engine, const std::string& url, std::int64_t size,
                                      std::int64_t read, int elapsed, int left, std::uint8_t percents,
                                      std::uint8_t total, float rate) {
        onProgress(engine, url, size, read, elapsed, left, percents, total, rate);
        if (looked || !TUpdateForm::Exists())
            return;
        looked = true;
        SetForegroundWindow(run.form->Handle());
        PumpMessagesFor(100);
        look(*run.form);
    };
    run.Run(std::move(created), true);
    EXPECT_TRUE(looked) << "the window was there to look at";
}

void Press(WORD key, bool shift = false)
{
    PressKey(key, shift);
    PumpMessagesFor(150);
}

// The colours on screen of a control's area of the window.
int CountColour(HWND window, const TGraphicControl& control, COLORREF colour)
{
    const HDC dc = GetDC(window);
    int count = 0;
    for (int y = control.Top(); y < control.Top() + control.Height(); ++y)
        for (int x = control.Left(); x < control.Left() + control.Width(); ++x)
            count += GetPixel(dc, x, y) == colour;
    ReleaseDC(window, dc);
    return count;
}

} // namespace

TEST(UpdateForm, KeyboardAndScreenReadersReachUpdateAndCancel)
{
    const ComApartment apartment;
    UpdaterRun enter;
    WhileDownloading(enter, [&](TUpdateForm& form) {
        const std::vector<AccessibleNode> tree = AccessibleTreeOf(form.Handle());
        const AccessibleNode* update = FindAccessible(tree, ROLE_SYSTEM_PUSHBUTTON, L"Update");
        const AccessibleNode* cancel = FindAccessible(tree, ROLE_SYSTEM_PUSHBUTTON, L"Cancel");
        ASSERT_TRUE(update && cancel) << "both buttons are announced";
        EXPECT_EQ(update->name, L"Update");
        EXPECT_EQ(update->state & (STATE_SYSTEM_DEFAULT | STATE_SYSTEM_UNAVAILABLE),
                  STATE_SYSTEM_DEFAULT | STATE_SYSTEM_UNAVAILABLE)
            << "the default button, disabled while the download runs";
        EXPECT_TRUE(cancel->state & STATE_SYSTEM_FOCUSED);
        EXPECT_EQ(cancel->defaultAction, L"Press");
        // The labels are the system's own: static text on Windows, client objects under Wine.
        const auto status = [&](const wchar_t* text) {
            return FindAccessible(tree, ROLE_SYSTEM_STATICTEXT, text) || FindAccessible(tree, ROLE_SYSTEM_CLIENT, text);
        };
        EXPECT_TRUE(status(L"Freshet! is downloading required files..."));
        EXPECT_TRUE(status(L"Status: Downloading"));

        EXPECT_EQ(form.Host().FocusControl(), &form.CancelButton());
        Press(VK_TAB);
        EXPECT_EQ(form.Host().FocusControl(), &form.CancelButton()) << "the one tab stop while Update is disabled";
        // As before the first Update click: Tab reaches Update and comes back.
        form.UpdateButton().SetEnabled(true);
        Press(VK_TAB);
        EXPECT_EQ(form.Host().FocusControl(), &form.UpdateButton());
        Press(VK_TAB, /*shift=*/true);
        EXPECT_EQ(form.Host().FocusControl(), &form.CancelButton());
        form.UpdateButton().SetEnabled(false);
        Press(VK_RETURN);
    });
    EXPECT_EQ(enter.Messages(), std::vector<std::string>{kAbortedBox}) << "Enter pressed Cancel";

    UpdaterRun escape;
    WhileDownloading(escape, [&](TUpdateForm& form) {
        form.UpdateButton().SetEnabled(true);
        Press(VK_TAB);
        ASSERT_EQ(form.Host().FocusControl(), &form.UpdateButton());
        Press(VK_ESCAPE);
    });
    EXPECT_EQ(escape.Messages(), std::vector<std::string>{kAbortedBox}) << "Esc cancels wherever the focus is";
}

TEST(UpdateForm, InHighContrastTheCaptionsTakeTheSystemTextColour)
{
    UpdaterRun run;
    const COLORREF buttonText = RGB(200, 0, 200);
    WhileDownloading(run, [&](TUpdateForm& form) {
        const SystemColoursScope colours({{COLOR_BTNTEXT, buttonText}});
        const HWND window = form.Handle();
        TAlphaButton& cancel = form.CancelButton();
        // The mouse over Cancel: its hover marks show.
        POINT over = {cancel.Left() + cancel.Width() / 2, cancel.Top() + 2};
        ClientToScreen(window, &over);
        SetCursorPos(over.x, over.y);
        SendMessageW(window, WM_MOUSEMOVE, 0, MAKELPARAM(cancel.Left() + cancel.Width() / 2, cancel.Top() + 2));
        RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
        ASSERT_TRUE(cancel.Hot());
        EXPECT_GT(CountColour(window, cancel, buttonText), 10) << "captions in the button-text colour, not black";
        const int black = CountColour(window, cancel, RGB(0, 0, 0));
        EXPECT_GT(black, 0) << "black hover marks on the face";

        SetHighContrastQuery([] { return true; });
        SendMessageW(window, WM_SETTINGCHANGE, SPI_SETHIGHCONTRAST, 0);
        UpdateWindow(window);
        EXPECT_GT(CountColour(window, cancel, buttonText), 10);
        EXPECT_EQ(CountColour(window, cancel, RGB(0, 0, 0)), 0) << "marks in the system's text colour too";
        SetHighContrastQuery(nullptr);
        SetCursorPos(0, 0);
    });
}

TEST(UpdateForm, AChangeOfDpiLaysTheWindowOutAgain)
{
    UpdaterRun run;
    WhileDownloading(run, [&](TUpdateForm& form) {
        const HWND window = form.Handle();
        const auto client = [&] {
            RECT area{};
            GetClientRect(window, &area);
            return std::pair<long, long>(area.right, area.bottom);
        };
        const auto fontHeight = [&] {
            LOGFONTW font{};
            GetObjectW(reinterpret_cast<HFONT>(SendMessageW(GetWindow(window, GW_CHILD), WM_GETFONT, 0, 0)),
                       sizeof font, &font);
            return font.lfHeight;
        };
        const auto changeTo = [&](int dpi) {
            RECT suggested{};
            GetWindowRect(window, &suggested);
            SendMessageW(window, WM_DPICHANGED, MAKEWPARAM(dpi, dpi), reinterpret_cast<LPARAM>(&suggested));
        };
        ASSERT_EQ(form.Dpi(), 96);
        EXPECT_EQ(client(), std::make_pair(346L, 136L));
        changeTo(144);
        EXPECT_EQ(form.Dpi(), 144);
        EXPECT_EQ(form.Host().Dpi(), 144);
        EXPECT_EQ(client(), std::make_pair(519L, 204L)) << "half as large again";
        const RECT update = form.UpdateButton().BoundsRect();
        EXPECT_EQ(update.left, ScaleForDpi(82, 144));
        EXPECT_EQ(update.right - update.left, ScaleForDpi(81, 144));
        EXPECT_EQ(fontHeight(), -ScaleForDpi(11, 144)) << "the labels' font in pixels grows too";
        EXPECT_EQ(form.UpdateButton().Glyph().ImageAt(144).width, 36) << "the glyph drawn for 150 %";
        changeTo(96);
        EXPECT_EQ(client(), std::make_pair(346L, 136L)) << "and back";
        EXPECT_EQ(fontHeight(), -11);
    });
}

namespace {

std::function<void(HWND dialog)> askMeasure;

void CALLBACK MeasureAskDialog(HWND, UINT, UINT_PTR id, DWORD)
{
    const HWND dialog = FindWindowW(L"#32770", nullptr);
    if (!dialog || !IsWindowVisible(dialog))
        return;
    KillTimer(nullptr, id);
    askMeasure(dialog);
}

} // namespace

// Run by the UpdaterDpi tests in a Wine prefix of their own, whose DPI they
// set before each run: the ask dialog and the update window as they show,
// each measured while it is up, one "name value..." line per measure.
// KELDORA_SHOT_PAUSE_MS keeps each window up that long after its measures
// for a screenshot (demo/dpi-shots.sh).
TEST(UpdaterDpi, DISABLED_MeasureWindows)
{
    const ComApartment apartment;
    const DWORD pause = static_cast<DWORD>(std::atoi(GetEnvVar("KELDORA_SHOT_PAUSE_MS").c_str()));
    const auto report = [](const std::string& line) {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };
    askMeasure = [&](HWND dialog) {
        RECT client{};
        GetClientRect(dialog, &client);
        report("ask-client " + std::to_string(client.right) + " " + std::to_string(client.bottom));
        int clipped = 0;
        for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            clipped += ClassOf(child) == L"Button" && !TextFits(child, 4);
        const std::vector<AccessibleNode> tree = AccessibleTreeOf(dialog);
        const AccessibleNode* text = FindAccessible(tree, ROLE_SYSTEM_STATICTEXT, L"Version 2.0");
        const AccessibleNode* link = FindAccessible(tree, ROLE_SYSTEM_LINK, L"notes");
        RECT screen = client;
        MapWindowPoints(dialog, nullptr, reinterpret_cast<POINT*>(&screen), 2);
        if (text && text->Location().bottom > screen.bottom)
            ++clipped;
        report("ask-clipped " + std::to_string(clipped));
        report(std::string("ask-reachable ") + (text && link ? "1" : "0"));
        PumpMessagesFor(pause);
        PostMessageW(dialog, WM_COMMAND, IDNO, 0);
    };
    SetTimer(nullptr, 0, 300, MeasureAskDialog);
    DefaultUpgraderPrompts().AskUpgrade(
        "<b>Version 2.0</b> is out: faster downloads and <a href=\"http://example.com/notes\">release notes</a>", "",
        {});

    UpdaterRun run;
    WhileDownloading(run, [&](TUpdateForm& form) {
        const HWND window = form.Handle();
        RECT client{};
        GetClientRect(window, &client);
        report("update-client " + std::to_string(client.right) + " " + std::to_string(client.bottom));
        int clipped = 0;
        const HDC dc = GetDC(window);
        for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
            if (ClassOf(child) != L"Static")
                continue;
            const std::wstring text = WindowTextOf(child);
            const RECT bounds = BoundsIn(window, child);
            RECT measured{0, 0, bounds.right - bounds.left, 0};
            const HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(child, WM_GETFONT, 0, 0)));
            DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &measured, DT_CALCRECT | DT_WORDBREAK);
            SelectObject(dc, old);
            clipped += measured.bottom > bounds.bottom - bounds.top || measured.right > bounds.right - bounds.left;
        }
        for (TAlphaButton* button : {&form.UpdateButton(), &form.CancelButton()}) {
            const AlphaLayoutResult at = button->CurrentLayout();
            const LOGFONTW face = LogFontOf(button->Font(), form.Dpi());
            const UniqueGdiObject font(CreateFontIndirectW(&face));
            const HGDIOBJ old = SelectObject(dc, font.get());
            const std::wstring caption = WideFromUtf8(button->Caption());
            RECT measured{};
            DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &measured, DT_CALCRECT);
            SelectObject(dc, old);
            const Image32& glyph = button->Glyph().ImageAt(form.Dpi());
            clipped += at.textX < 0 || at.textX + measured.right > button->Width() ||
                       at.textY + measured.bottom > button->Height() || at.glyphX < 0 ||
                       at.glyphX + glyph.width > button->Width() || at.glyphY + glyph.height > button->Height();
        }
        int ink = 0;
        for (int y = 0; y < client.bottom; y += 2)
            for (int x = 0; x < client.right; x += 2)
                ink += GetPixel(dc, x, y) != GetSysColor(COLOR_BTNFACE);
        ReleaseDC(window, dc);
        report("update-clipped " + std::to_string(clipped));
        report("update-ink " + std::to_string(ink));
        const std::vector<AccessibleNode> tree = AccessibleTreeOf(window);
        const bool announced = FindAccessible(tree, ROLE_SYSTEM_PUSHBUTTON, L"Cancel") != nullptr;
        report(std::string("update-reachable ") +
               (announced && form.Host().FocusControl() == &form.CancelButton() ? "1" : "0"));
        PumpMessagesFor(pause);
        Press(VK_ESCAPE);
    });
    report(std::string("update-cancelled ") + (run.Messages() == std::vector<std::string>{kAbortedBox} ? "1" : "0"));
}

namespace {

// The measures of a run of the windows at a DPI: name to numbers.
std::map<std::string, std::vector<long>> MeasuredAt(DWORD dpi)
{
    const LogPixelsScope pixels(dpi);
    DWORD exitCode = 1;
    const std::string output =
        RunAndCapture("updater_windows_tests.exe --gtest_also_run_disabled_tests "
                      "--gtest_filter=UpdaterDpi.DISABLED_MeasureWindows",
                      &exitCode);
    EXPECT_EQ(exitCode, 0u) << "at " << dpi << ":\n" << output;
    std::map<std::string, std::vector<long>> measures;
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string name;
        words >> name;
        long number = 0;
        while (words >> number)
            measures[name].push_back(number);
    }
    return measures;
}

} // namespace

// In a prefix of its own (CTest entry UpdaterDpi.WindowsGrowWithTheDpi).
TEST(UpdaterDpi, DISABLED_WindowsGrowWithTheDpiAndShowAllTheirText)
{
    auto normal = MeasuredAt(96);
    auto large = MeasuredAt(144);
    for (const char* window : {"update", "ask"}) {
        const std::string name = std::string(window) + "-client";
        ASSERT_EQ(normal[name].size(), 2u) << window;
        ASSERT_EQ(large[name].size(), 2u) << window;
        for (int i = 0; i < 2; ++i)
            EXPECT_NEAR(large[name][i], normal[name][i] * 3 / 2, 1) << window << " at 144 DPI, half as large again";
        EXPECT_EQ(normal[std::string(window) + "-clipped"], std::vector<long>{0}) << window << " at 96 DPI";
        EXPECT_EQ(large[std::string(window) + "-clipped"], std::vector<long>{0}) << window << " at 144 DPI";
        EXPECT_EQ(large[std::string(window) + "-reachable"], std::vector<long>{1}) << window;
    }
    EXPECT_EQ(normal["update-client"], (std::vector<long>{346, 136}));
    EXPECT_EQ(large["update-cancelled"], std::vector<long>{1}) << "Esc cancels at 144 DPI";
}

TEST(UpdaterDpi, DISABLED_At480DotsPerInchAllIsDrawnAndReachable)
{
    auto huge = MeasuredAt(480);
    ASSERT_EQ(huge["update-client"].size(), 2u) << "the window came up";
    EXPECT_EQ(huge["update-client"], (std::vector<long>{346 * 5, 136 * 5}));
    ASSERT_EQ(huge["update-ink"].size(), 1u);
    EXPECT_GT(huge["update-ink"][0], 500) << "drawn";
    EXPECT_EQ(huge["update-reachable"], std::vector<long>{1});
    EXPECT_EQ(huge["update-cancelled"], std::vector<long>{1});
    EXPECT_EQ(huge["ask-reachable"], std::vector<long>{1});
    EXPECT_EQ(huge["ask-clipped"], std::vector<long>{0});
}
