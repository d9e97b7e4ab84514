#include "http/auHTTP.h"

#include "HttpRecorder.h"
#include "HttpTestServer.h"
#include "http/HttpDate.h"
#include "http/FileSha256.h"
#include "winutil/WideText.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

namespace {

class HTTPTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        server = new HttpTestServer();
        server->PutFile("hello.txt", "hello\n");
        server->PutFile("file.bin", PatternBytes(100000));
    }
    static void TearDownTestSuite()
    {
        delete server;
        server = nullptr;
    }

    void SetUp() override { DeleteFileW(WideFromUtf8(Target()).c_str()); }

    static std::string Target(const char* name = "target.bin") { return server->Root() + "out-" + name; }

    static HttpTestServer* server;
    TauCustomHTTP http;
    HttpRecorder recorder{http};
};

HttpTestServer* HTTPTest::server = nullptr;

// Compares without printing megabytes of bytes on failure.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected)
{
    if (actual == expected)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << actual.size() << " bytes differ from the expected " << expected.size();
}

TEST_F(HTTPTest, FetchesIntoMemory)
{
    http.URL = server->Url("/hello.txt");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.Sequence(), "HeaderInfo,Progress,Done");
    EXPECT_EQ(recorder.data, "hello\n");
    EXPECT_EQ(recorder.doneSize, 6);
    EXPECT_EQ(http.Result().statusCode, 200);
    EXPECT_TRUE(http.Result().success);
    EXPECT_EQ(http.Result().contentType, "application/octet-stream");
    EXPECT_EQ(recorder.headerLength, 6);
}

TEST_F(HTTPTest, FetchesIntoAHiddenFile)
{
    http.URL = server->Url("/file.bin");
    http.FileName = Target();
    http.HideTempFile = true;
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.Sequence(), "HeaderInfo,Progress,Done");
    EXPECT_FALSE(recorder.dataGiven) << "a file is closed before OnDone";
    EXPECT_EQ(recorder.doneSize, 100000);
    EXPECT_TRUE(SameBytes(ReadWholeFile(Target()), PatternBytes(100000)));
    const DWORD attributes = GetFileAttributesW(WideFromUtf8(Target()).c_str());
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(recorder.percentsInRange);
    EXPECT_EQ(recorder.lastPercent, 100);
    EXPECT_FALSE(recorder.progressOffMainThread);
    SetFileAttributesW(WideFromUtf8(Target()).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(HTTPTest, AddressWithoutSchemeIsHttp)
{
    http.URL = server->Url("/hello.txt").substr(7);
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.data, "hello\n");
}

TEST_F(HTTPTest, NotFoundDeletesTheFile)
{
    server->PutFile("out-target.bin", "old data");
    http.URL = server->Url("/missing.bin");
    http.FileName = Target();
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.Sequence(), "HeaderInfo,Progress,RequestFailed,HTTPError:404");
    EXPECT_FALSE(FileExists(Target()));
}

TEST_F(HTTPTest, ConnectionDroppedMidBodyIsLost)
{
    http.URL = server->Url("/file.bin?drop=5000");
    http.FileName = Target();
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "ConnectionLost");
    EXPECT_EQ(recorder.events[recorder.events.size() - 2], "RequestFailed");
    EXPECT_FALSE(http.Result().success);
    EXPECT_FALSE(FileExists(Target()));
}

TEST_F(HTTPTest, ShortBodyIsLost)
{
    http.URL = server->Url("/file.bin?short=5000");
    http.FileName = Target();
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "ConnectionLost");
    EXPECT_LE(http.Result().bytesTransferred, 5000);
    EXPECT_FALSE(FileExists(Target()));
}

TEST_F(HTTPTest, BodyWithoutLengthEndsWithTheConnection)
{
    http.URL = server->Url("/file.bin?nolength=1");
    http.FileName = Target();
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.Sequence(), "HeaderInfo,Progress,Done");
    EXPECT_EQ(http.Result().contentLength.value_or(0), 0);
    EXPECT_TRUE(SameBytes(ReadWholeFile(Target()), PatternBytes(100000))) << "the body goes to the file";
}

TEST_F(HTTPTest, RedirectIsFollowed)
{
    http.URL = server->Url("/x?redirect=/hello.txt");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "Done");
    EXPECT_EQ(recorder.data, "hello\n");
    ASSERT_EQ(recorder.redirects.size(), 1u);
    EXPECT_NE(recorder.redirects[0].find("/hello.txt"), std::string::npos);
    EXPECT_EQ(http.Result().finalURL, server->Url("/hello.txt")) << "the address the answer came from";
    EXPECT_EQ(http.Result().redirects, recorder.redirects) << "every step of the way, with or without a handler";
}

TEST_F(HTTPTest, StatusTextsComeFromTheWorker)
{
    http.URL = server->Url("/hello.txt");
    ASSERT_TRUE(recorder.Run());
    const auto& texts = recorder.statusTexts;
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Sending Request"), texts.end());
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Response received"), texts.end());
}


TEST_F(HTTPTest, PasswordRequestRetriesOnTheSameConnection)
{
    std::vector<std::string> realms;
    http.OnPasswordRequest = [&](TauCustomHTTP& sender, const std::string& realm, bool& tryAgain) {
        realms.push_back(realm);
        sender.HTTPUsername = "user";
        sender.HTTPPassword = realms.size() == 1 ? "wrong" : "secret";
        tryAgain = realms.size() < 3;
    };
    http.URL = server->Url("/hello.txt?auth=user:secret&realm=Updates");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.Sequence(), "HeaderInfo,Progress,Done");
    EXPECT_EQ(recorder.data, "hello\n");
    EXPECT_EQ(realms, (std::vector<std::string>{"Updates", "Updates"}));
    EXPECT_EQ(http.Result().realm, "Updates");
}

TEST_F(HTTPTest, PasswordRequestDeclinedIsAnHTTPError)
{
    int asked = 0;
    http.OnPasswordRequest = [&](TauCustomHTTP&, const std::string&, bool&) { ++asked; };
    // Credentials of its own: WinInet resends those it learnt for this server.
    http.URL = server->Url("/hello.txt?auth=second:secret2&realm=Second");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(recorder.events.back(), "HTTPError:401");
}

TEST_F(HTTPTest, UnauthorizedWithoutHandlerIsAnHTTPError)
{
    http.URL = server->Url("/hello.txt?auth=third:secret3&realm=Third");
    http.FileName = Target();
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "HTTPError:401");
    EXPECT_FALSE(FileExists(Target()));
}

TEST_F(HTTPTest, ProxyAuthenticationRetries)
{
    http.Proxy.AccessType = atUseProxy;
    http.Proxy.ProxyServer = "127.0.0.1";
    http.Proxy.ProxyPort = server->Port();
    http.Proxy.ProxyBypass.clear();
    int asked = 0;
    http.OnProxyAuthenticationRequest = [&](TauCustomHTTP&, std::string& user, std::string& password,
                                            bool& tryAgain) {
        ++asked;
        user = "proxy";
        password = "pass";
        tryAgain = true;
    };
    http.URL = "http://updates.invalid/hello.txt?proxyauth=proxy:pass";
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(recorder.data, "hello\n");
    EXPECT_EQ(http.ProxyUsername, "proxy") << "kept for the next request";
}

TEST_F(HTTPTest, RangeIsAskedAndItsAnswerAccepted)
{
    http.URL = server->Url("/file.bin");
    http.Range.StartRange = 100;
    http.Range.EndRange = 199;
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.Sequence(), "HeaderInfo,Progress,Done");
    EXPECT_TRUE(SameBytes(recorder.data, PatternBytes(200).substr(100)));
    EXPECT_EQ(http.Result().statusCode, 206);

    http.Range.EndRange = 0;
    ASSERT_TRUE(recorder.Run());
    EXPECT_TRUE(SameBytes(recorder.data, PatternBytes(100000).substr(100)));
    EXPECT_NE(server->RequestLog().find(": \"bytes=100-\""), std::string::npos);
}

TEST_F(HTTPTest, RangeIgnoredGivesTheWholeBody)
{
    http.URL = server->Url("/file.bin?ignorerange=1");
    http.FileName = Target();
    http.Range.StartRange = 100;
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "Done");
    EXPECT_TRUE(SameBytes(ReadWholeFile(Target()), PatternBytes(100000)));
}

TEST_F(HTTPTest, UnsatisfiableRangeIsAnHTTPError)
{
    http.URL = server->Url("/file.bin");
    http.FileName = Target();
    http.Range.StartRange = 200000;
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "HTTPError:416");
    EXPECT_FALSE(FileExists(Target()));
}

TEST_F(HTTPTest, PartialContentNotAskedForIsAnHTTPError)
{
    http.URL = server->Url("/file.bin");
    http.AddHeaders = {"Range: bytes=10-19"};
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "HTTPError:206");
}

// A file cut off keeps what it got; the next transfer asks for the rest and
// appends it only when the answer is that rest (the digest is then the whole
// file's), and starts over when the server sends the whole file instead.
TEST_F(HTTPTest, ACutFileIsKeptAndResumedOnlyFromWhereItEnded)
{
    const std::string whole = PatternBytes(100000);
    const std::string wholeDigest = Sha256Of(whole);
    http.FileName = Target();
    http.HashBody = true;
    http.KeepPartialFile = true;
    http.URL = server->Url("/file.bin?drop=40000");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "ConnectionLost");
    const std::string kept = ReadWholeFile(Target());
    ASSERT_GT(kept.size(), 0u);
    ASSERT_LT(kept.size(), whole.size());
    EXPECT_TRUE(SameBytes(kept, whole.substr(0, kept.size())));

    // Garbage past the kept length (a power cut's zeros) is cut off first.
    WriteWholeFile(Target(), kept + std::string(300, '\0'));
    http.KeepPartialFile = false;
    http.ResumeFile = true;
    http.Range.StartRange = static_cast<std::int64_t>(kept.size());
    http.URL = server->Url("/file.bin");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "Done");
    EXPECT_EQ(http.Result().statusCode, 206);
    EXPECT_EQ(http.Result().resumedFrom, static_cast<std::int64_t>(kept.size()));
    EXPECT_EQ(http.Result().bytesTransferred, static_cast<std::int64_t>(whole.size() - kept.size()));
    EXPECT_TRUE(SameBytes(ReadWholeFile(Target()), whole));
    EXPECT_EQ(http.Result().sha256, wholeDigest);

    // A server that ignores the range, or whose validator changed: the file starts over.
    for (const char* query : {"?ignorerange=1", ""}) {
        WriteWholeFile(Target(), kept);
        http.AddHeaders = {std::string("If-Range: ") + (*query ? "\"any\"" : "\"another file\"")};
        http.URL = server->Url("/file.bin") + query;
        ASSERT_TRUE(recorder.Run()) << query;
        EXPECT_EQ(recorder.events.back(), "Done") << query;
        EXPECT_EQ(http.Result().statusCode, 200) << query;
        EXPECT_EQ(http.Result().resumedFrom, 0) << query;
        EXPECT_TRUE(SameBytes(ReadWholeFile(Target()), whole)) << query;
        EXPECT_EQ(http.Result().sha256, wholeDigest) << query;
    }
    http.AddHeaders.clear();

    // A Content-Range that lies about where it starts is refused; nothing is appended.
    WriteWholeFile(Target(), kept);
    http.URL = server->Url("/file.bin?liarange=1");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "HTTPError:206");
    EXPECT_FALSE(FileExists(Target()));

    // A kept file shorter than the range asked for is a local failure, never a hole.
    WriteWholeFile(Target(), kept.substr(0, 10));
    http.URL = server->Url("/file.bin");
    ASSERT_TRUE(recorder.Run());
    EXPECT_FALSE(http.Result().success);
    EXPECT_EQ(http.Result().localError, static_cast<DWORD>(ERROR_HANDLE_EOF));
}

TEST_F(HTTPTest, LastModifiedInEveryForm)
{
    TIME_ZONE_INFORMATION zone{};
    const DWORD kind = GetTimeZoneInformation(&zone);
    const int bias = zone.Bias + (kind == TIME_ZONE_ID_DAYLIGHT ? zone.DaylightBias : kind == TIME_ZONE_ID_STANDARD ? zone.StandardBias : 0);
    const OleDate expected = OleDateFromSeconds(*SecondsFromParts(1994, 11, 6, 8, 49, 37) - bias * 60LL);
    for (const char* form : {"rfc1123", "rfc850", "asctime", "offset"}) {
        http.URL = server->Url(std::string("/hello.txt?lastmod=") + form);
        ASSERT_TRUE(recorder.Run()) << form;
        EXPECT_EQ(recorder.lastModified, expected) << form;
    }
    http.URL = server->Url("/hello.txt?lastmod=bad");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.lastModified, 0.0);
    http.URL = server->Url("/gen/10");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.lastModified, 0.0) << "absent";
}

TEST_F(HTTPTest, BrokenContentLengthsNeverPassForComplete)
{
    // The platform may trust a length we cannot read ("12abc" as 12), so a
    // body announced that way can never be shown to be complete.
    for (const char* kind : {"length", "overflow", "negative", "conflict"}) {
        recorder.events.clear();
        http.URL = server->Url(std::string("/file.bin?garbage=") + kind);
        http.FileName = Target();
        ASSERT_TRUE(recorder.Run()) << kind;
        EXPECT_EQ(recorder.events.back(), "ConnectionLost") << kind << ": " << recorder.Sequence();
        EXPECT_EQ(recorder.headerLength, 0) << kind;
        EXPECT_FALSE(FileExists(Target())) << kind;
    }
}

TEST_F(HTTPTest, GarbageHeaders)
{
    http.FileName = Target();
    http.URL = server->Url("/file.bin?garbage=status");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "HTTPError:0") << "a status that is no number";
    EXPECT_FALSE(FileExists(Target()));

    // Lines the platform drops, bytes above 127, no status line at all (an
    // HTTP/0.9 answer, complete when the server closes), a header of 200 KB.
    for (const char* query : {"garbage=line", "garbage=binary", "garbage=noheaders", "hugeheader=200000"}) {
        recorder.events.clear();
        http.URL = server->Url(std::string("/file.bin?") + query);
        ASSERT_TRUE(recorder.Run()) << query;
        EXPECT_EQ(recorder.events.back(), "Done") << query << ": " << recorder.Sequence();
        EXPECT_TRUE(SameBytes(ReadWholeFile(Target()), PatternBytes(100000))) << query;
    }
}

TEST_F(HTTPTest, HeaderHandlerCanStopTheTransfer)
{
    recorder.continueTransfer = false;
    http.URL = server->Url("/file.bin");
    http.FileName = Target();
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.Sequence(), "HeaderInfo,TransferStopped");
    EXPECT_FALSE(FileExists(Target())) << "no file is created";
}

TEST_F(HTTPTest, MemoryBodyIsCapped)
{
    http.URL = server->Url("/gen/2000000");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.Sequence(), "HeaderInfo,RequestFailed,ConnectionLost");

    recorder.events.clear();
    http.URL = server->Url("/gen/2000000?nolength=1");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "ConnectionLost");

    recorder.events.clear();
    http.URL = server->Url("/gen/1048576");
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "Done");
    EXPECT_TRUE(SameBytes(recorder.data, PatternBytes(1048576)));
}

TEST_F(HTTPTest, ServerThatIsNotThereIsUnreachable)
{
    http.URL = "http://127.0.0.1:1/hello.txt";
    http.FileName = Target();
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.Sequence(), "RequestFailed,ServerUnreachable");
    EXPECT_EQ(http.Result().statusCode, -1);
    EXPECT_FALSE(FileExists(Target()));
}

// The server holds its answer far longer than the recorder waits for the
// end: a transfer that ends at all was ended by the time-out.
TEST_F(HTTPTest, ReceiveTimeoutEndsASlowAnswer)
{
    http.URL = server->Url("/hello.txt?delay=240000");
    http.Timeouts.ReceiveTimeout = 500;
    ASSERT_TRUE(recorder.Run(/*timeoutMs=*/60000));
    EXPECT_EQ(recorder.events.back(), "ServerUnreachable");
    EXPECT_NE(server->RequestLog().find("delay=240000"), std::string::npos) << "asked, and never answered";
}

TEST_F(HTTPTest, SlowBodyArrivesWhole)
{
    http.URL = server->Url("/file.bin?slow=20&chunk=20000");
    http.FileName = Target();
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "Done");
    EXPECT_TRUE(SameBytes(ReadWholeFile(Target()), PatternBytes(100000)));
}

TEST_F(HTTPTest, StartWhileBusyChangesNothing)
{
    http.URL = server->Url("/hello.txt?delay=300");
    ASSERT_TRUE(http.StartTransfer());
    http.URL = server->Url("/file.bin");
    EXPECT_FALSE(http.StartTransfer());
    ASSERT_TRUE(recorder.WaitForEnd());
    EXPECT_EQ(recorder.Sequence(), "HeaderInfo,Progress,Done");
    EXPECT_EQ(recorder.data, "hello\n");
}

TEST_F(HTTPTest, CancelMidTransferRaisesOnlyAborted)
{
    http.URL = server->Url("/gen/100000?slow=50&chunk=1000");
    http.FileName = Target();
    http.OnTransferProgress = [&](TauCustomHTTP& sender, const std::string&, std::int64_t, std::int64_t bytes, int,
                                  int, std::uint8_t, float, TauDataStream*) {
        recorder.events.push_back("Progress");
        if (bytes >= 3000)
            sender.CancelTransfer();
    };
    ASSERT_TRUE(http.StartTransfer());
    ASSERT_TRUE(PumpUntil([&] { return !http.Busy(); }, 60000));
    PumpMessagesFor(300);
    EXPECT_EQ(recorder.events.back(), "TransferAborted");
    EXPECT_EQ(std::count(recorder.events.begin(), recorder.events.end(), "TransferAborted"), 1);
    const std::string partial = ReadWholeFile(Target());
    EXPECT_GE(partial.size(), 3000u) << "the partial file stays";
    EXPECT_TRUE(SameBytes(partial, PatternBytes(partial.size())));

    recorder.events.clear();
    recorder.finished = false;
    http.OnTransferProgress = nullptr;
    http.URL = server->Url("/hello.txt");
    http.FileName.clear();
    ASSERT_TRUE(recorder.Run()) << "a new transfer starts at once";
    EXPECT_EQ(recorder.Sequence(), "HeaderInfo,Done");
}

TEST_F(HTTPTest, NextTransferStartsFromInsideOnDone)
{
    std::vector<std::string> done;
    http.FileName = Target("first.bin");
    http.URL = server->Url("/file.bin");
    http.OnDone = [&](TauCustomHTTP& sender, const std::string&, std::int64_t, TauDataStream*) {
        done.push_back(sender.FileName);
        if (done.size() == 1) {
            sender.URL = server->Url("/gen/5000");
            sender.FileName = Target("second.bin");
            EXPECT_TRUE(sender.StartTransfer());
        }
    };
    ASSERT_TRUE(http.StartTransfer());
    ASSERT_TRUE(PumpUntil([&] { return done.size() == 2 && !http.Busy(); }, 60000));
    EXPECT_TRUE(SameBytes(ReadWholeFile(Target("first.bin")), PatternBytes(100000)));
    EXPECT_TRUE(SameBytes(ReadWholeFile(Target("second.bin")), PatternBytes(5000)));
}

TEST_F(HTTPTest, FailedTransferNeverDeletesTheNextOnesFile)
{
    int errors = 0;
    bool done = false;
    http.FileName = Target();
    http.URL = server->Url("/missing.bin");
    http.OnHTTPError = [&](TauCustomHTTP& sender, int, TauDataStream*) {
        ++errors;
        sender.URL = server->Url("/file.bin?slow=5&chunk=50000");
        EXPECT_TRUE(sender.StartTransfer());
    };
    http.OnDone = [&](TauCustomHTTP&, const std::string&, std::int64_t, TauDataStream*) { done = true; };
    ASSERT_TRUE(http.StartTransfer());
    ASSERT_TRUE(PumpUntil([&] { return done && !http.Busy(); }, 60000));
    EXPECT_EQ(errors, 1);
    EXPECT_TRUE(SameBytes(ReadWholeFile(Target()), PatternBytes(100000)));
}

TEST_F(HTTPTest, DestroyingDuringATransferRaisesNothing)
{
    const int usersBefore = ThreadWindowUsers();
    std::vector<std::string> events;
    bool destroying = false;
    {
        TauCustomHTTP doomed;
        const auto record = [&](const char* name) { events.push_back(destroying ? std::string("late ") + name : name); };
        doomed.OnTransferProgress = [&](TauCustomHTTP&, const std::string&, std::int64_t, std::int64_t, int, int,
                                        std::uint8_t, float, TauDataStream*) { record("Progress"); };
        doomed.OnDone = [&](TauCustomHTTP&, const std::string&, std::int64_t, TauDataStream*) { record("Done"); };
        doomed.OnRequestFailed = [&](TauCustomHTTP&) { record("RequestFailed"); };
        doomed.OnTransferAborted = [&](TauCustomHTTP&) { record("TransferAborted"); };
        doomed.URL = server->Url("/gen/100000?slow=20&chunk=1000");
        ASSERT_TRUE(doomed.StartTransfer());
        ASSERT_TRUE(PumpUntil([&] { return !events.empty(); }, 60000));
        destroying = true;
    }
    EXPECT_TRUE(PumpUntil([&] { return ThreadWindowUsers() <= usersBefore; }, 60000)) << "the abandoned worker ends";
    EXPECT_EQ(std::count_if(events.begin(), events.end(), [](const std::string& e) { return e.rfind("late", 0) == 0; }),
              0);
    EXPECT_EQ(std::count(events.begin(), events.end(), "Done"), 0) << "destroyed mid-transfer";
}

TEST_F(HTTPTest, PostSendsFormData)
{
    http.URL = server->Url("/echo");
    http.PostData = "a=1&b=2";
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.data.find("POST /echo HTTP/1.1"), 0u);
    EXPECT_NE(recorder.data.find("Content-Type: application/x-www-form-urlencoded"), std::string::npos);
    EXPECT_EQ(recorder.data.substr(recorder.data.size() - 7), "a=1&b=2");
}

TEST_F(HTTPTest, StreamedUploadIsPosted)
{
    auto body = std::make_unique<TauMemoryStream>();
    const std::string payload = PatternBytes(20000);
    body->Write(payload.data(), payload.size());
    std::int64_t uploaded = 0;
    http.OnUploadProgress = [&](TauCustomHTTP&, std::int64_t, std::int64_t bytes, int, int, std::uint8_t, float) {
        uploaded = bytes;
    };
    http.URL = server->Url("/echo");
    http.TransferBufferSize = 4096;
    ASSERT_TRUE(http.StartUpload(std::move(body), "Content-Type: application/octet-stream\r\n"));
    ASSERT_TRUE(recorder.WaitForEnd());
    EXPECT_EQ(uploaded, 20000);
    EXPECT_EQ(recorder.data.find("POST /echo"), 0u);
    EXPECT_EQ(recorder.data.substr(recorder.data.size() - payload.size()), payload);
}

TEST_F(HTTPTest, RequestCarriesTheSettings)
{
    http.URL = server->Url("/echo");
    http.AddHeaders = {"X-First: 1", "X-Second: two"};
    http.Agent = "Keldora test agent";
    http.Referer = "http://referer.invalid/";
    http.UseCache = false;
    ASSERT_TRUE(recorder.Run());
    for (const char* line : {"X-First: 1", "X-Second: two", "User-Agent: Keldora test agent",
                             "Referer: http://referer.invalid/", "Accept: text/html, */*", "Pragma: no-cache"})
        EXPECT_NE(recorder.data.find(line), std::string::npos) << line << " in\n" << recorder.data;
}

TEST_F(HTTPTest, LocalFilesAreRead)
{
    server->PutFile("local.bin", PatternBytes(30000));
    http.URL = "file:///" + server->Root() + "local.bin";
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "Done");
    EXPECT_TRUE(SameBytes(recorder.data, PatternBytes(30000)));
    EXPECT_EQ(http.Result().finalURL, "") << "no network address";

    http.URL = "file:///" + server->Root() + "none.bin";
    ASSERT_TRUE(recorder.Run());
    EXPECT_EQ(recorder.events.back(), "HTTPError:404");
}

TEST_F(HTTPTest, ProgressReachesTheMainThreadAtMostThirtyTimesASecond)
{
    http.URL = server->Url("/gen/300000?slow=1&chunk=512");
    http.FileName = Target();
    http.TransferBufferSize = 512;
    const DWORD start = GetTickCount();
    ASSERT_TRUE(recorder.Run());
    const double seconds = (GetTickCount() - start) / 1000.0;
    EXPECT_EQ(recorder.events.back(), "Done");
    EXPECT_LE(recorder.progressCount, 31 * seconds + 2) << recorder.progressCount << " in " << seconds << " s";
    EXPECT_EQ(recorder.lastPercent, 100);
}

TEST_F(HTTPTest, LoginInfoRoundTripsAndRejectsBadBlocks)
{
    http.HTTPUsername = "user";
    http.HTTPPassword = "secret";
    ASSERT_TRUE(http.StoresLInfo());
    const std::string block = http.LInfo();
    TauCustomHTTP other;
    EXPECT_FALSE(other.StoresLInfo());
    ASSERT_TRUE(other.SetLInfo(block));
    EXPECT_EQ(other.HTTPUsername, "user");
    EXPECT_EQ(other.HTTPPassword, "secret");
    EXPECT_FALSE(other.SetLInfo(block.substr(0, 3)));
    EXPECT_EQ(other.HTTPUsername, "user") << "a rejected block changes nothing";
    other.HTTPUsername = std::string(200, 'u');
    other.HTTPPassword = std::string(100, 'p');
    EXPECT_THROW(other.LInfo(), std::length_error);
}

}  // namespace
