// The update state in a real folder of the Wine prefix, and the engine's
// decisions on it: rollout buckets for signed releases, conditional checks
// and a busy server's Retry-After, against the local test server.
#include "update/auAutoUpgrader.h"
#include "update/auCheckState.h"
#include "update/auRollout.h"
#include "update/auUpdateState.h"
#include "winutil/WideText.h"

#include "Publisher.h"
#include "common/ScratchFolder.h"
#include "HttpTestServer.h"

#include <gtest/gtest.h>

#include <wininet.h>

#include <string>
#include <vector>

namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& part)
{
    for (const std::string& line : lines)
        if (line.find(part) != std::string::npos)
            return true;
    return false;
}

// One check of the engine, its events and log lines kept; the engine asks
// nothing and shows no box, each is counted as an event instead.
void RunCheck(TauAutoUpgrader& engine, std::vector<std::string>& events, std::vector<std::string>& log)
{
    events.clear();
    log.clear();
    engine.OnLog = [&](TauAutoUpgrader&, const std::string& text) { log.push_back(text); };
    engine.OnNoUpdateAvailable = [&](TauAutoUpgrader&) { events.push_back("NoUpdateAvailable"); };
    engine.OnReleaseRefused = [&](TauAutoUpgrader&, const std::string& reason) {
        events.push_back("refused: " + reason);
    };
    engine.Prompts.AskUpgrade = [&](const std::string&, const std::string&, const TauMoreInfo&) {
        events.push_back("ask");
        return false;
    };
    engine.Prompts.ShowError = [&](const std::wstring&) { events.push_back("error box"); };
    engine.CheckUpdate();
    EXPECT_TRUE(PumpUntil([&] { return !engine.Busy(); }, 60000));
    PumpMessagesFor(100);
}

// An engine of `product` at `version` that checks `address` and keeps its
// state in `state`; the texts in English.
void SetUpEngine(TauAutoUpgrader& engine, const std::string& address, const std::string& product,
                 const std::string& version, const std::string& state)
{
    engine.Wizard.SetLanguage(wlEnglish);
    engine.InfoFileURL = address;
    engine.VersionControl = byNumber;
    engine.VersionNumber = version;
    engine.Product = product;
    engine.StateFolder = state;
}

TEST(UpdateState, TheMachineValueIsMadeOnceAndAGarbledFileIsReplaced)
{
    const ScratchFolder scratch("state");
    const std::string folder = scratch.PathOf("Zustand \xC3\xBC\xD0\xB6\\nested\\");
    const std::string file = folder + "machine.state";
    EXPECT_NE(DefaultUpdateStateFolder().find("\\Local\\Keldora\\Updates\\"), std::string::npos)
        << DefaultUpdateStateFolder();

    const std::string value = MachineValue(folder);
    EXPECT_TRUE(IsMachineValue(value)) << value;
    EXPECT_EQ(ReadWholeFile(file), MachineStateText(value)) << "made with the folders above it";
    EXPECT_EQ(MachineValue(folder), value) << "kept, not made again";

    for (const std::string& garbled : {std::string("machine=not hex\r\n"), std::string(),
                                       MachineStateText(value) + std::string(UpdateStateLimit, '#')}) {
        WriteWholeFile(file, garbled);
        const std::string replaced = MachineValue(folder);
        EXPECT_TRUE(IsMachineValue(replaced)) << garbled.size();
        EXPECT_NE(replaced, value) << "a file of " << garbled.size() << " bytes is not trusted";
        EXPECT_EQ(ReadWholeFile(file), MachineStateText(replaced));
    }
    EXPECT_TRUE(FindFiles(folder + "*.tmp").empty()) << "no temporary file is left";
    const std::string blocked = scratch.AddFile("blocked", "a file where the folder would be");
    EXPECT_EQ(MachineValue(blocked + "\\"), "") << "no state: no value";
}

// A signed release of one file for the product "Rollout Test".
struct RolloutCheck {
    HttpTestServer server;
    Publisher publisher{"rollout"};
    ScratchFolder scratch{"rollout"};
    std::string state = scratch.PathOf("state\\");
    std::vector<std::string> events;
    std::vector<std::string> log;

    std::vector<std::string> Check(const std::string& rolloutLine)
    {
        server.PutFile("app.exe", "new program");
        server.PutFile("info.txt", publisher.Signed("#version=2.0\r\n#product=Rollout Test\r\n" + rolloutLine +
                                                    "#url=" + server.Url("/app.exe") + "\r\n#sha256=" +
                                                    publisher.Digest(server.Root() + "app.exe") + "\r\n"));
        TauAutoUpgrader engine;
        SetUpEngine(engine, server.Url("/info.txt"), "Rollout Test", "1.0", state);
        engine.PublisherKey = publisher.PublicKey();
        RunCheck(engine, events, log);
        return events;
    }
};

TEST(UpdateState, ACopyTakesASignedReleaseOnlyWhenItsBucketIsBelowTheRollout)
{
    RolloutCheck r;
    const int bucket = RolloutBucket(MachineValue(r.state), "Rollout Test");
    const std::string noUpdate = "bucket is " + std::to_string(bucket) + ": no update";

    EXPECT_EQ(r.Check("#rollout=" + std::to_string(bucket) + "\r\n"), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_TRUE(Contains(r.log, "release 2.0 goes to " + std::to_string(bucket) + "% of installed copies, this copy's " +
                                    noUpdate))
        << (r.log.empty() ? "" : r.log.back());
    EXPECT_EQ(r.Check("#rollout=0\r\n"), std::vector<std::string>{"NoUpdateAvailable"}) << "0% reaches no copy";

    EXPECT_EQ(r.Check("#rollout=" + std::to_string(bucket + 1) + "\r\n"), std::vector<std::string>{"ask"});
    EXPECT_FALSE(Contains(r.log, "no update"));
    EXPECT_EQ(r.Check(""), std::vector<std::string>{"ask"}) << "no rollout: every copy";
    EXPECT_EQ(RolloutBucket(MachineValue(r.state), "Rollout Test"), bucket) << "the bucket stayed";

    EXPECT_EQ(r.Check("#rollout=50%\r\n"),
              (std::vector<std::string>{"refused: the rollout is not a whole percentage from 0 to 100: \"50%\"",
                                        "error box"}))
        << "a publisher's mistake is shown, not taken as a share";

    // A copy whose state cannot be kept has no bucket: it waits for the full release.
    r.state = r.scratch.AddFile("blocked", "a file where the folder would be") + "\\";
    EXPECT_EQ(r.Check("#rollout=99\r\n"), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_TRUE(Contains(r.log, "this copy has no bucket"));
    EXPECT_EQ(r.Check("#rollout=100\r\n"), std::vector<std::string>{"ask"});
}

// An expired signed file is no update, said in the log and LastFailure, never
// a box; an old signed file served again offers nothing.
TEST(UpdateState, AnExpiredOrReplayedSignedFileIsNoUpdate)
{
    Publisher publisher{"expiry"};
    HttpTestServer server;
    const ScratchFolder scratch{"expiry"};
    server.PutFile("app.exe", "new program");
    const std::string release =
        "#product=Expiry Test\r\n#url=" + server.Url("/app.exe") + "\r\n#sha256=" + publisher.Digest(server.Root() + "app.exe") + "\r\n";
    TauAutoUpgrader engine;
    SetUpEngine(engine, server.Url("/info.txt"), "Expiry Test", "2.0", scratch.PathOf("state\\"));
    engine.PublisherKey = publisher.PublicKey();
    engine.ShowMessages.Include(mNoUpdateAvailable);
    std::vector<std::string> events;
    std::vector<std::string> log;

    server.PutFile("info.txt", publisher.Signed("#version=3.0\r\n#expires=2001-01-01T00:00:00Z\r\n" + release));
    RunCheck(engine, events, log);
    EXPECT_EQ(events, std::vector<std::string>{"NoUpdateAvailable"}) << "no box, not even \"no update\"";
    EXPECT_TRUE(Contains(log, "the information file expired at 2001-01-01T00:00:00Z: no update"));
    EXPECT_EQ(engine.LastFailure(), "the information file expired at 2001-01-01T00:00:00Z");
    EXPECT_EQ(server.RequestLog().find("/app.exe"), std::string::npos);

    // Expired and for another product: refused for the product, and shown.
    server.PutFile("info.txt", publisher.Signed("#version=3.0\r\n#expires=2001-01-01T00:00:00Z\r\n#product=Other\r\n" +
                                                release.substr(release.find("#url="))));
    RunCheck(engine, events, log);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0], "refused: the information file is for the product \"Other\", not Expiry Test");

    // A malformed expiry is the publisher's mistake: refused and shown.
    server.PutFile("info.txt", publisher.Signed("#version=3.0\r\n#expires=2001-01-01\r\n" + release));
    RunCheck(engine, events, log);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].rfind("refused: the expiry of the information file is not a time", 0), 0u) << events[0];
    EXPECT_EQ(events[1], "error box");

    // The signed 1.0 and 2.0 files replayed to a 2.0 copy: nothing to install.
    for (const char* version : {"1.0", "2.0"}) {
        server.PutFile("info.txt", publisher.Signed("#version=" + std::string(version) +
                                                    "\r\n#expires=9999-12-31T23:59:59Z\r\n" + release));
        RunCheck(engine, events, log);
        EXPECT_EQ(events, (std::vector<std::string>{"NoUpdateAvailable", "error box"})) << version;
        EXPECT_EQ(engine.LastFailure(), "");
    }
    EXPECT_EQ(server.RequestLog().find("/app.exe"), std::string::npos) << "nothing downloaded";
}

} // namespace

// An unsigned engine for "Check Test" keeping its state in a folder of its own.
struct StateCheck {
    HttpTestServer server;
    ScratchFolder scratch{"checks"};
    std::string state = scratch.PathOf("state\\");
    std::vector<std::string> events;
    std::vector<std::string> log;

    std::vector<std::string> Check(const std::string& query)
    {
        TauAutoUpgrader engine;
        SetUpEngine(engine, server.Url("/info.txt?" + query), "Check Test", "1.0", state);
        engine.AllowUnverifiedUpdates = true;
        engine.AddHeaders = {"X-Own: kept"};
        // A missing information file shows its box: a busy server must not.
        engine.ShowMessages.Include(mNoInfoFile);
        RunCheck(engine, events, log);
        EXPECT_EQ(engine.AddHeaders, std::vector<std::string>{"X-Own: kept"}) << "the user's headers stay";
        return events;
    }

    // The request lines the server logged since the last call.
    std::vector<std::string> NewRequests()
    {
        std::vector<std::string> lines;
        const std::string all = server.RequestLog();
        for (std::size_t start = seen_, end; (end = all.find('\n', start)) != std::string::npos; start = end + 1)
            lines.push_back(all.substr(start, end - start));
        seen_ = all.size();
        return lines;
    }

private:
    std::size_t seen_ = 0;
};

// An HTTP date `seconds` from now, as a query value.
std::string HttpDateFromNow(int seconds)
{
    FILETIME time{};
    GetSystemTimeAsFileTime(&time);
    ULARGE_INTEGER ticks{};
    ticks.LowPart = time.dwLowDateTime;
    ticks.HighPart = time.dwHighDateTime;
    ticks.QuadPart += static_cast<ULONGLONG>(static_cast<LONGLONG>(seconds) * 10000000);
    time.dwLowDateTime = ticks.LowPart;
    time.dwHighDateTime = ticks.HighPart;
    SYSTEMTIME system{};
    FileTimeToSystemTime(&time, &system);
    wchar_t text[INTERNET_RFC1123_BUFSIZE + 1] = {};
    InternetTimeFromSystemTimeW(&system, INTERNET_RFC1123_FORMAT, text, sizeof text);
    std::string query;
    for (const wchar_t c : std::wstring(text))
        query += c == L' ' ? std::string("%20") : c == L',' ? std::string("%2C") : std::string(1, static_cast<char>(c));
    return query;
}

TEST(UpdateState, AnUnchangedInformationFileIsConfirmedWithoutItsBody)
{
    StateCheck r;
    r.server.PutFile("info.txt", "#version=1.0\r\n#url=http://example.com/a.exe\r\n");
    EXPECT_EQ(r.Check("conditional=1"), std::vector<std::string>{"NoUpdateAvailable"});
    std::vector<std::string> requests = r.NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].find("If-None-Match"), std::string::npos) << "nothing kept yet";
    const std::string file = r.state + CheckStateFileName(r.server.Url("/info.txt?conditional=1"), "CHECK TEST");
    const TauCheckState kept = CheckStateFromText(ReadWholeFile(file), UtcSecondsNow());
    EXPECT_NE(kept.etag, "");
    EXPECT_NE(kept.lastModified, "");

    EXPECT_EQ(r.Check("conditional=1"), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_TRUE(Contains(r.log, "unchanged since the last check (304)"));
    requests = r.NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("\"If-None-Match\": \"" + std::string("\\\"") + kept.etag.substr(1, kept.etag.size() - 2)),
              std::string::npos) << requests[0];
    EXPECT_NE(requests[0].find("\"If-Modified-Since\": \"" + kept.lastModified + "\""), std::string::npos);
    EXPECT_NE(requests[0].find("\"X-Own\": \"kept\""), std::string::npos);

    // A new release changes the file: it is read in full and offered; its
    // validators are not kept, so the offer is made again next time.
    PumpMessagesFor(1100);
    r.server.PutFile("info.txt", "#version=2.0\r\n#url=http://example.com/a.exe\r\n");
    EXPECT_EQ(r.Check("conditional=1"), std::vector<std::string>{"ask"});
    EXPECT_EQ(ReadWholeFile(file), "");
    EXPECT_EQ(r.Check("conditional=1"), std::vector<std::string>{"ask"});
    EXPECT_EQ(r.NewRequests()[1].find("If-None-Match"), std::string::npos);

    // Garbled validators in the file are not sent.
    WriteWholeFile(file, "etag=unquoted\r\nlastmodified=yesterday\r\n");
    r.server.PutFile("info.txt", "#version=1.0\r\n#url=http://example.com/a.exe\r\n");
    EXPECT_EQ(r.Check("conditional=1"), std::vector<std::string>{"NoUpdateAvailable"});
    requests = r.NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].find("If-"), std::string::npos) << requests[0];
}

TEST(UpdateState, ABusyServerIsAskedAgainOnlyAfterItsRetryAfter)
{
    StateCheck r;
    r.server.PutFile("info.txt", "#version=1.0\r\n#url=http://example.com/a.exe\r\n");
    for (const std::string& bad : {std::string("soon"), std::string("-5"), std::string("0"), std::string("999999999"),
                                   HttpDateFromNow(-60)}) {
        EXPECT_EQ(r.Check("status=503&header=Retry-After:" + bad), std::vector<std::string>{"error box"})
            << bad << ": ignored, an error as before";
        EXPECT_EQ(r.NewRequests().size(), 1u);
    }
    EXPECT_EQ(r.Check("status=503"), std::vector<std::string>{"error box"}) << "no Retry-After";

    // A wait belongs to the address that asked for it: the next check of
    // that address waits (the query makes the test server answer 503).
    const std::string busy = "status=503&header=Retry-After:120";
    EXPECT_EQ(r.Check(busy), std::vector<std::string>{"NoUpdateAvailable"}) << "no error box";
    EXPECT_TRUE(Contains(r.log, "answered 503 and asked to wait 120 s"));
    r.NewRequests();
    EXPECT_EQ(r.Check(busy), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_TRUE(r.NewRequests().empty()) << "the next check waits";
    EXPECT_TRUE(Contains(r.log, "asked to wait"));

    const std::string file = r.state + CheckStateFileName(r.server.Url("/info.txt?" + busy), "Check Test");
    const std::string owner = "address=" + r.server.Url("/info.txt?" + busy) + "\r\nproduct=Check Test\r\nversion=1.0\r\n";
    WriteWholeFile(file, owner + "retryafter=" + std::to_string(UtcSecondsNow() - 1) + "\r\n");
    EXPECT_EQ(r.Check(busy), std::vector<std::string>{"NoUpdateAvailable"}) << "a wait that is over";
    EXPECT_EQ(r.NewRequests().size(), 1u);

    const std::string tooMany = "status=429&header=Retry-After:" + HttpDateFromNow(3600);
    EXPECT_EQ(r.Check(tooMany), std::vector<std::string>{"NoUpdateAvailable"});
    const std::string tooManyFile = r.state + CheckStateFileName(r.server.Url("/info.txt?" + tooMany), "Check Test");
    const TauCheckState kept = CheckStateFromText(ReadWholeFile(tooManyFile), UtcSecondsNow());
    EXPECT_NEAR(static_cast<double>(kept.retryAfter - UtcSecondsNow()), 3600, 5);
    r.NewRequests();
    EXPECT_EQ(r.Check(tooMany), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_TRUE(r.NewRequests().empty());
}

namespace {

// One copy's check: its address, product and installed version, its state
// in the folder that every copy of the user shares.
std::vector<std::string> CheckAs(const std::string& state, const std::string& address, const std::string& product,
                                 const std::string& version, std::vector<std::string>& log)
{
    TauAutoUpgrader engine;
    SetUpEngine(engine, address, product, version, state);
    engine.AllowUnverifiedUpdates = true;
    std::vector<std::string> events;
    RunCheck(engine, events, log);
    return events;
}

} // namespace

// Two publishers' products without Product= on one machine, one static
// server: what one check keeps never answers or silences the other.
TEST(UpdateState, TwoProductsWithoutANameKeepTheirOwnChecks)
{
    StateCheck r;
    std::vector<std::string> log;
    r.server.PutFile("a.txt", "#version=1.0\r\n#url=http://example.com/a.exe\r\n");
    r.server.PutFile("b.txt", "#version=2.0\r\n#url=http://example.com/b.exe\r\n");
    const std::string a = r.server.Url("/a.txt?conditional=1");
    const std::string b = r.server.Url("/b.txt?conditional=1");

    EXPECT_EQ(CheckAs(r.state, a, "", "1.0", log), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_EQ(CheckAs(r.state, a, "", "1.0", log), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_TRUE(Contains(log, "unchanged since the last check (304)")) << "A's own validators work";
    r.NewRequests();
    EXPECT_EQ(CheckAs(r.state, b, "", "1.0", log), std::vector<std::string>{"ask"}) << "B still finds its release";
    std::vector<std::string> requests = r.NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(IsConditionalRequest(requests[0])) << "A's validators are not B's: " << requests[0];

    // A's server is busy for five days: A waits (a plain-http answer a day
    // at most), B is asked as before.
    const std::string busy = r.server.Url("/a.txt?status=503&header=Retry-After:432000");
    EXPECT_EQ(CheckAs(r.state, busy, "", "1.0", log), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_TRUE(Contains(log, "asked to wait 86400 s: no check of " + busy)) << (log.empty() ? "" : log.back());
    const TauCheckState kept =
        CheckStateFromText(ReadWholeFile(r.state + CheckStateFileName(busy, "")), UtcSecondsNow());
    EXPECT_NEAR(static_cast<double>(kept.retryAfter - UtcSecondsNow()), 86400, 5);
    EXPECT_EQ(kept.owner.address, busy);
    r.NewRequests();
    EXPECT_EQ(CheckAs(r.state, busy, "", "1.0", log), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_TRUE(r.NewRequests().empty()) << "A waits";
    EXPECT_EQ(CheckAs(r.state, b, "", "1.0", log), std::vector<std::string>{"ask"});
    EXPECT_EQ(r.NewRequests().size(), 1u) << "B does not";
    EXPECT_EQ(CheckAs(r.state, busy, "Named Product", "1.0", log), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_EQ(r.NewRequests().size(), 1u) << "another product on A's address does not wait either";

    // A wait written into the file by hand, far beyond a day, is no plain-http
    // server's: it is dropped, since holding it to a day from each check
    // would hold it for ever.
    const std::string file = r.state + CheckStateFileName(a, "");
    WriteWholeFile(file, "address=" + a + "\r\nproduct=\r\nversion=1.0\r\nretryafter=" +
                             std::to_string(UtcSecondsNow() + 6 * 24 * 3600) + "\r\n");
    r.NewRequests();
    EXPECT_EQ(CheckAs(r.state, a, "", "1.0", log), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_EQ(r.NewRequests().size(), 1u) << "A's server is asked";
}

// Two copies of one product, 2.0 and an older 1.0 reinstalled, on one
// address: the validators kept for 2.0 are never sent by 1.0, which would
// hear "unchanged" and never be offered 2.0. Old, garbled and oversized
// state files are dropped.
TEST(UpdateState, ValidatorsAreSentOnlyForTheVersionTheyWereKeptFor)
{
    StateCheck r;
    std::vector<std::string> log;
    r.server.PutFile("info.txt", "#version=2.0\r\n#url=http://example.com/a.exe\r\n");
    const std::string address = r.server.Url("/info.txt?conditional=1");
    EXPECT_EQ(CheckAs(r.state, address, "Copy Test", "2.0", log), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_EQ(CheckAs(r.state, address, "copy test", "2.0", log), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_TRUE(Contains(log, "(304)")) << "the name's case does not matter";
    r.NewRequests();
    EXPECT_EQ(CheckAs(r.state, address, "Copy Test", "1.0", log), std::vector<std::string>{"ask"});
    std::vector<std::string> requests = r.NewRequests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_FALSE(IsConditionalRequest(requests[0])) << requests[0];
    EXPECT_EQ(CheckAs(r.state, address, "Copy Test", "1.0", log), std::vector<std::string>{"ask"})
        << "offered again";

    // The former file, keyed by the product alone, is removed unread.
    const std::string former = r.state + FormerCheckStateFileName("Copy Test");
    WriteWholeFile(former, "etag=\"old\"\r\nretryafter=" + std::to_string(UtcSecondsNow() + 3600) + "\r\n");
    r.NewRequests();
    EXPECT_EQ(CheckAs(r.state, address, "Copy Test", "1.0", log), std::vector<std::string>{"ask"});
    requests = r.NewRequests();
    ASSERT_EQ(requests.size(), 1u) << "its wait is not kept";
    EXPECT_FALSE(IsConditionalRequest(requests[0]));
    EXPECT_EQ(GetFileAttributesW(WideFromUtf8(former).c_str()), INVALID_FILE_ATTRIBUTES);

    // Garbled and oversized files of this check: ignored, then replaced.
    const std::string file = r.state + CheckStateFileName(address, "Copy Test");
    const std::string owner = "address=" + address + "\r\nproduct=Copy Test\r\nversion=2.0\r\n";
    for (const std::string& bad : {owner + "etag=\"x\"\r\n" + std::string(UpdateStateLimit, '#'),
                                   std::string("address=\x01\r\netag=\"x\"\r\n"), std::string("\xff\xfe\x00")}) {
        WriteWholeFile(file, bad);
        EXPECT_EQ(CheckAs(r.state, address, "Copy Test", "2.0", log), std::vector<std::string>{"NoUpdateAvailable"});
        requests = r.NewRequests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_FALSE(IsConditionalRequest(requests[0])) << bad.size();
        const TauCheckState kept = CheckStateFromText(ReadWholeFile(file), UtcSecondsNow());
        EXPECT_NE(kept.etag, "") << "replaced by this answer's";
        EXPECT_EQ(kept.owner, (TauCheckOwner{address, "Copy Test", "2.0"}));
    }
    EXPECT_TRUE(FindFiles(r.state + "*.tmp").empty());
}
