// Signed releases end to end: the product runs the engine with a publisher
// key against information files signed, as a publisher does, by the host's
// openssl command line; a release installs only when every check passes, and
// otherwise the program folder stays as it was.
#include "Publisher.h"
#include "StubTestSupport.h"
#include "common/ScratchFolder.h"
#include "common/WineSupport.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// The product a signed engine must be, as update.ini names it (Product=).
constexpr const char* StubProductName = "Keldora Stub Test";

// A release of app.exe and lib.dll on the test server, its information file
// with the digests of the files served.
struct SignedRelease {
    HttpTestServer server;
    ReleaseFolder release;
    std::string events;
    std::string log;

    explicit SignedRelease(const std::string& name)
        : release(name), events(release.Record() + ".events"), log(release.Record() + ".log")
    {
        release.Add("lib.dll", "old library");
        server.PutFile("app.exe", release.NewProduct());
        server.PutFile("lib.dll", "new library");
    }
    ~SignedRelease()
    {
        DeleteFileW(WideFromUtf8(events).c_str());
        DeleteFileW(WideFromUtf8(log).c_str());
    }

    std::string InfoText(const Publisher& publisher, const std::string& message = "Better.") const
    {
        return "#version=2.0\r\n#product=" + std::string(StubProductName) + "\r\n#message={" + message +
               "}\r\n#url=" + server.Url("/app.exe") + "\r\n#sha256=" +
               publisher.Digest(server.Root() + "app.exe") + "\r\n#url0=" + server.Url("/lib.dll") +
               "\r\n#sha256_0=" + publisher.Digest(server.Root() + "lib.dll") + "\r\n";
    }

    // Runs the product with the key; the events it recorded (its log lines
    // go to `log`).
    std::string Upgrade(const std::string& publicKey, const std::string& info)
    {
        server.PutFile("info.txt", info);
        DeleteFileW(WideFromUtf8(events).c_str());
        DeleteFileW(WideFromUtf8(log).c_str());
        const EnvVarScope eventFile("KD_STUB_EVENTS", events);
        const EnvVarScope logFile("KD_STUB_LOG", log);
        const EnvVarScope key("KD_STUB_PUBLISHER_KEY", publicKey);
        const EnvVarScope product("KD_STUB_PRODUCT", StubProductName);
        RunProductUpgrade(release, server.Url("/info.txt"));
        return ReadWholeFile(events);
    }
};

TEST(SignedRelease, ASignedReleaseInstallsEndToEnd)
{
    const Publisher publisher("good");
    SignedRelease r("Signed App");
    const std::string info = publisher.Signed(r.InfoText(publisher));

    const std::string events = r.Upgrade(publisher.PublicKey(), info);
    EXPECT_EQ(events, "FileDone " + r.release.PathOf("app.exe.uTMP") + "\r\nFileDone " +
                          r.release.PathOf("lib.dll.uTMP") + "\r\nEndUpgrade\r\nclosed\r\n");
    const std::vector<std::string> records = r.release.WaitForRecords(2);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(ReadFolder(r.release.Folder()),
              (FolderState{{"app.exe", {r.release.NewProduct(), 0}}, {"lib.dll", {"new library", 0}}}));
}

// An installed file that already is the release's is never fetched: the
// engine hashes it and tells the stub to keep it; one that differs, even
// with the same size, is downloaded.
TEST(SignedRelease, AnInstalledFileThatIsAlreadyTheReleasesIsKeptNotFetched)
{
    const Publisher publisher("keep");
    SignedRelease r("Keeping App");
    r.release.Add("lib.dll", "new library");
    const std::string info = publisher.Signed(r.InfoText(publisher));

    std::string events = r.Upgrade(publisher.PublicKey(), info);
    EXPECT_EQ(events, "FileDone " + r.release.PathOf("app.exe.uTMP") + "\r\nEndUpgrade\r\nclosed\r\n");
    EXPECT_EQ(r.server.RequestsFor("/lib.dll").size(), 0u) << r.server.RequestLog();
    EXPECT_EQ(r.server.RequestsFor("/app.exe").size(), 1u) << r.server.RequestLog();
    ASSERT_EQ(r.release.WaitForRecords(2).size(), 2u);
    EXPECT_EQ(ReadFolder(r.release.Folder()),
              (FolderState{{"app.exe", {r.release.NewProduct(), 0}}, {"lib.dll", {"new library", 0}}}));

    // Same size, other bytes: fetched and installed.
    r.release.Add("app.exe", r.release.OldProduct());
    r.release.Add("lib.dll", "old library");
    events = r.Upgrade(publisher.PublicKey(), info);
    EXPECT_EQ(events, "FileDone " + r.release.PathOf("app.exe.uTMP") + "\r\nFileDone " +
                          r.release.PathOf("lib.dll.uTMP") + "\r\nEndUpgrade\r\nclosed\r\n");
    EXPECT_EQ(r.server.RequestsFor("/lib.dll").size(), 1u) << r.server.RequestLog();
    ASSERT_EQ(r.release.WaitForRecords(4).size(), 4u);
    EXPECT_EQ(ReadFolder(r.release.Folder()),
              (FolderState{{"app.exe", {r.release.NewProduct(), 0}}, {"lib.dll", {"new library", 0}}}));
}

// The release with a file of several of the product's 256 KiB reads (a cut
// loses the read it ends), big.dat, and the name of its download.
struct BigRelease : SignedRelease {
    const std::string big = PatternBytes(4000000);
    const std::string pending;

    explicit BigRelease(const std::string& name) : SignedRelease(name), pending(release.PathOf("big.dat.uTMP"))
    {
        server.PutFile("big.dat", big);
    }
};

// A download cut off halfway keeps what it got, flushed, with the server's
// validator; the next run asks for the rest only. A server that ignores the
// range sends the whole file, which starts over; a range answer that lies
// about where it starts is refused with its own log line and the whole file
// is fetched in the same run. Every road ends with the signed digest.
TEST(SignedRelease, ADownloadCutOffHalfwayIsResumedInTheNextRun)
{
    const Publisher publisher("resume");
    BigRelease r("Resuming App");
    const std::string& big = r.big;
    const std::string& pending = r.pending;
    struct Case {
        const char* options;
        std::size_t requests;
        const char* logged;
    };
    const std::vector<Case> cases = {
        {"-", 2, "resuming the download of "},
        {"ignorerange=1", 2, "resuming the download of "},
        {"liarange=1", 3, "was refused"},
    };
    std::size_t starts = 0;
    for (const Case& c : cases) {
        const std::string path = std::string("/cut/2000000/") + c.options + "/big.dat";
        const std::string info = publisher.Signed(
            "#version=2.0\r\n#product=" + std::string(StubProductName) + "\r\n#url=" + r.server.Url("/app.exe") +
            "\r\n#sha256=" + publisher.Digest(r.server.Root() + "app.exe") + "\r\n#url0=" + r.server.Url(path) +
            "\r\n#sha256_0=" + publisher.Digest(r.server.Root() + "big.dat") + "\r\n#size_0=4000000\r\n");
        r.release.Add("app.exe", r.release.OldProduct());
        DeleteFileW(WideFromUtf8(r.release.PathOf("big.dat")).c_str());

        std::string events = r.Upgrade(publisher.PublicKey(), info);
        EXPECT_NE(events.find("ConnLost"), std::string::npos) << c.options << events;
        const std::string kept = ReadWholeFile(pending);
        EXPECT_GT(kept.size(), 0u) << c.options;
        EXPECT_LE(kept.size(), 2000000u) << c.options;
        EXPECT_TRUE(kept == big.substr(0, kept.size())) << c.options;
        EXPECT_NE(ReadWholeFile(pending + ".resume").find("\nlength\t" + std::to_string(kept.size()) + "\n"),
                  std::string::npos)
            << c.options;
        EXPECT_NE(ReadWholeFile(r.log).find("kept " + std::to_string(kept.size()) + " bytes"), std::string::npos)
            << ReadWholeFile(r.log);
        EXPECT_EQ(ReadWholeFile(r.release.Program()), r.release.OldProduct()) << c.options;
        EXPECT_EQ(GetFileAttributesW(WideFromUtf8(r.release.PathOf("big.dat")).c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(r.release.WaitForRecords(++starts).size(), starts) << c.options;

        events = r.Upgrade(publisher.PublicKey(), info);
        EXPECT_EQ(events, "FileDone " + r.release.PathOf("app.exe.uTMP") + "\r\nFileDone " + pending +
                              "\r\nEndUpgrade\r\nclosed\r\n")
            << c.options;
        const std::vector<std::string> requests = r.server.RequestsFor(path);
        ASSERT_EQ(requests.size(), c.requests) << c.options << r.server.RequestLog();
        EXPECT_NE(requests[1].find("bytes=" + std::to_string(kept.size()) + "-"), std::string::npos) << requests[1];
        EXPECT_NE(requests[1].find("If-Range"), std::string::npos) << requests[1];
        if (c.requests == 3) {
            EXPECT_EQ(requests[2].find("bytes="), std::string::npos) << "the whole file, asked for plainly";
        }
        EXPECT_NE(ReadWholeFile(r.log).find(c.logged), std::string::npos) << c.options << ReadWholeFile(r.log);
        starts += 2;
        ASSERT_EQ(r.release.WaitForRecords(starts).size(), starts) << c.options;
        EXPECT_TRUE(ReadWholeFile(r.release.PathOf("big.dat")) == big) << c.options;
        EXPECT_EQ(GetFileAttributesW(WideFromUtf8(pending + ".resume").c_str()), INVALID_FILE_ATTRIBUTES) << c.options;
    }
}

// A product killed mid-download (no clean-up at all) resumes from the last
// checkpoint it made durable: every MiB stored is flushed and recorded.
TEST(SignedRelease, ADownloadKilledMidwayResumesFromItsLastCheckpoint)
{
    const Publisher publisher("killed");
    BigRelease r("Killed App");
    const std::string& big = r.big;
    const std::string& pending = r.pending;
    // Slow enough that a busy machine still sees a checkpoint past half the
    // file before the download ends.
    const std::string path = "/cut/999999999/slow=80&chunk=65536/big.dat";
    const std::string info = publisher.Signed(
        "#version=2.0\r\n#product=" + std::string(StubProductName) + "\r\n#url=" + r.server.Url(path) +
        "\r\n#sha256=" + publisher.Digest(r.server.Root() + "big.dat") + "\r\n");
    r.server.PutFile("info.txt", info);
    {
        const EnvVarScope key("KD_STUB_PUBLISHER_KEY", publisher.PublicKey());
        const EnvVarScope product("KD_STUB_PRODUCT", StubProductName);
        const UniqueKernelHandle running =
            StartProcess("\"" + r.release.Program() + "\" --upgrade " + r.server.Url("/info.txt"));
        // Any checkpoint past half the file: the one at 2 MiB is followed by
        // the next within a second.
        const auto pastHalf = [&] {
            const std::string record = ReadWholeFile(pending + ".resume");
            const std::size_t at = record.find("\nlength\t");
            return at != std::string::npos && std::strtoull(record.c_str() + at + 8, nullptr, 10) >= 2000000;
        };
        ASSERT_TRUE(PumpUntil(pastHalf, 60000)) << "a checkpoint past half the file";
        KillOutright("Killed App.app[.]exe");
    }
    const std::string record = ReadWholeFile(pending + ".resume");
    const std::size_t at = record.find("\nlength\t") + 8;
    const std::size_t length = std::stoul(record.substr(at, record.find('\n', at) - at));
    EXPECT_GE(length, 2000000u) << record;
    EXPECT_GE(ReadWholeFile(pending).size(), length);
    EXPECT_TRUE(ReadWholeFile(pending).substr(0, length) == big.substr(0, length));

    const std::string events = r.Upgrade(publisher.PublicKey(), info);
    EXPECT_EQ(events, "FileDone " + pending + "\r\nEndUpgrade\r\nclosed\r\n");
    const std::vector<std::string> requests = r.server.RequestsFor(path);
    ASSERT_EQ(requests.size(), 2u) << r.server.RequestLog();
    EXPECT_NE(requests[1].find("bytes=" + std::to_string(length) + "-"), std::string::npos) << requests[1];
    ASSERT_EQ(r.release.WaitForRecords(3).size(), 3u);
    EXPECT_TRUE(ReadWholeFile(r.release.PathOf("big.dat")) == big);
}

TEST(SignedRelease, AnythingNotSignedAsServedInstallsNothing)
{
    const Publisher publisher("good");
    const Publisher other("other");
    SignedRelease r("Refusing App");
    const std::string key = publisher.PublicKey();
    const std::string text = r.InfoText(publisher);
    const std::string signature = publisher.Signature(text);
    const std::string appUrl = r.server.Url("/app.exe");
    std::string swapped = text;
    swapped.replace(swapped.find(appUrl), appUrl.size(), r.server.Url("/lib.dll"));
    std::string noDigest = text;
    noDigest.erase(noDigest.find("#sha256_0="), 10 + 64 + 2);
    const FolderState before = ReadFolder(r.release.Folder());

    struct Case {
        const char* what;
        std::string key;
        std::string info;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {"unsigned", key, text, "not signed"},
        {"another key", key, other.Signed(text), "does not verify"},
        {"message edited", key, r.InfoText(publisher, "Better!") + "#signature=" + signature + "\r\n",
         "does not verify"},
        {"URL swapped", key, swapped + "#signature=" + signature + "\r\n", "does not verify"},
        {"truncated", key, text + "#signature=" + signature.substr(0, signature.size() - 8) + "\r\n",
         "no P-256 ECDSA signature"},
        {"not base64", key, text + "#signature=" + signature.substr(0, 20) + "*" + signature.substr(21) + "\r\n",
         "not base64"},
        {"digest missing", key, publisher.Signed(noDigest), "no SHA-256 digest for " + r.server.Url("/lib.dll")},
        {"malformed key", key.substr(4), publisher.Signed(text), "publisher key"},
    };
    for (const Case& c : cases) {
        const std::string events = r.Upgrade(c.key, c.info);
        EXPECT_EQ(events.rfind("ReleaseRefused the", 0), 0u) << c.what << ": " << events;
        EXPECT_NE(events.find(c.reason), std::string::npos) << c.what << ": " << events;
        EXPECT_NE(events.find("failed"), std::string::npos) << c.what << ": " << events;
        EXPECT_EQ(ReadFolder(r.release.Folder()), before) << c.what;
    }

    // One byte of the second file changed after signing: the first file was
    // already downloaded and goes too.
    r.server.PutFile("lib.dll", "new librarz");
    const std::string events = r.Upgrade(key, publisher.Signed(text));
    EXPECT_EQ(events, "FileDone " + r.release.PathOf("app.exe.uTMP") + "\r\nReleaseRefused the download of " +
                          r.server.Url("/lib.dll") + " does not match its SHA-256 digest\r\nfailed\r\n");
    EXPECT_EQ(ReadFolder(r.release.Folder()), before);
    EXPECT_EQ(r.release.WaitForRecords(cases.size() + 1).size(), cases.size() + 1)
        << "the product's own starts only: never restarted";
}

TEST(SignedRelease, ASignedSizeStopsABodyThatNeverEndsAndRefusesOneThatEndsShortOrIsNoNumber)
{
    const Publisher publisher("sizes");
    SignedRelease r("Sized App");
    const FolderState before = ReadFolder(r.release.Folder());
    const auto info = [&](const std::string& library, const std::string& size) {
        return publisher.Signed("#version=2.0\r\n#product=" + std::string(StubProductName) + "\r\n#url=" +
                                r.server.Url("/app.exe") + "\r\n#sha256=" +
                                publisher.Digest(r.server.Root() + "app.exe") + "\r\n#size=" +
                                std::to_string(r.release.NewProduct().size()) + "\r\n#url0=" + library +
                                "\r\n#sha256_0=" + publisher.Digest(r.server.Root() + "lib.dll") +
                                "\r\n#size_0=" + size + "\r\n");
    };
    const std::string endless = r.server.Url("/endless/lib.dll");
    std::string events = r.Upgrade(publisher.PublicKey(), info(endless, "4096"));
    EXPECT_NE(events.find("ReleaseRefused the download of " + endless + " is larger than the 4096 bytes signed for it"),
              std::string::npos)
        << events;
    EXPECT_EQ(ReadFolder(r.release.Folder()), before) << "no download is left";
    events = r.Upgrade(publisher.PublicKey(), info(endless, "0"));
    EXPECT_NE(events.find("ReleaseRefused the download of " + endless + " is larger than the 0 bytes signed for it"),
              std::string::npos)
        << "an empty file's size bounds it too: " << events;

    const std::string library = r.server.Url("/lib.dll");
    events = r.Upgrade(publisher.PublicKey(), info(library, "12"));
    EXPECT_NE(events.find("ReleaseRefused the download of " + library + " ended after 11 of the 12 bytes signed for it"),
              std::string::npos)
        << events;
    events = r.Upgrade(publisher.PublicKey(), info(library, "11 bytes"));
    EXPECT_NE(events.find("ReleaseRefused the signed size of " + library + " is not a decimal number"),
              std::string::npos)
        << events;
    EXPECT_EQ(ReadFolder(r.release.Folder()), before);
    EXPECT_EQ(r.release.WaitForRecords(4).size(), 4u) << "only the product's own starts";
}

}  // namespace
