// The update state in a real folder of the Wine prefix, and the engine's
// rollout decision on signed information files from the test server.
#include "update/auAutoUpgrader.h"
#include "update/auRollout.h"
#include "update/auUpdateState.h"

#include "HostCommand.h"
#include "HttpTestServer.h"

#include <gtest/gtest.h>

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

TEST(UpdateState, TheMachineValueIsMadeOnceAndAGarbledFileIsReplaced)
{
    const HttpTestServer server;
    const std::string folder = server.Root() + "Zustand \xC3\xBC\xD0\xB6\\nested\\";
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
    WriteWholeFile(server.Root() + "blocked", "a file where the folder would be");
    EXPECT_EQ(MachineValue(server.Root() + "blocked\\"), "") << "no state: no value";
}

// A signed release of one file for the product "Rollout Test".
struct RolloutCheck {
    HttpTestServer server;
    Publisher publisher{"rollout"};
    std::string state = server.Root() + "state\\";
    std::vector<std::string> events;
    std::vector<std::string> log;

    std::vector<std::string> Check(const std::string& rolloutLine)
    {
        server.PutFile("app.exe", "new program");
        server.PutFile("info.txt", publisher.Signed("#version=2.0\r\n#product=Rollout Test\r\n" + rolloutLine +
                                                    "#url=" + server.Url("/app.exe") + "\r\n#sha256=" +
                                                    publisher.Digest(server.Root() + "app.exe") + "\r\n"));
        TauAutoUpgrader engine;
        engine.Wizard.SetLanguage(wlEnglish);
        engine.InfoFileURL = server.Url("/info.txt");
        engine.VersionControl = byNumber;
        engine.VersionNumber = "1.0";
        engine.PublisherKey = publisher.PublicKey();
        engine.Product = "Rollout Test";
        engine.StateFolder = state;
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
        EXPECT_TRUE(PumpUntil([&] { return !engine.Busy(); }));
        PumpFor(100);
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
    WriteWholeFile(r.server.Root() + "blocked", "a file where the folder would be");
    r.state = r.server.Root() + "blocked\\";
    EXPECT_EQ(r.Check("#rollout=99\r\n"), std::vector<std::string>{"NoUpdateAvailable"});
    EXPECT_TRUE(Contains(r.log, "this copy has no bucket"));
    EXPECT_EQ(r.Check("#rollout=100\r\n"), std::vector<std::string>{"ask"});
}

} // namespace
