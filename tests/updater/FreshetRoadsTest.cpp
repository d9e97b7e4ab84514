// The cheaper roads to a release file, end to end through the real
// freshet.exe and its stub: a one-hop patch of the installed file or the
// file compressed, made by the host's zstd command and signed as a publisher
// signs them. Only the road taken crosses the network (the server's request
// log says so); a road that fails is one line of the log, and the next road
// brings the file in the same run.
#include "FreshetInstallRun.h"
#include "Publisher.h"
#include "common/HostCommand.h"
#include "common/SmallDisk.h"
#include "winutil/ErrorText.h"
#include "winutil/ProfileFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr const char* RoadProduct = "Keldora Roads Test";

// A signed release of app.exe (#url=), data.txt (#url0=, 200 KB of text) and
// update.ini (#url3=); each test adds the roads.
struct RoadRun : InstallRun {
    const Publisher publisher;
    const std::string newData = BigText("new");

    explicit RoadRun(const std::string& name, const std::string& appFolder = {})
        : InstallRun("freshet roads", appFolder), publisher(name)
    {
        WriteWholeFile(App("data.txt"), BigText("old"));
        server.PutFile("data.txt", newData);
        SignSettings(App("update.ini"), "1.0");
        const std::string release = folder.AddFile("update.ini", Settings("2.0"));
        SignSettings(release, "2.0");
        server.PutFile("update.ini", ReadWholeFile(release));
        // The sources the publisher made the patches from.
        server.PutFile("old-app.exe", product);
        server.PutFile("old-data.txt", BigText("old"));
    }

    static std::string BigText(const std::string& edition)
    {
        std::string text;
        for (int line = 0; text.size() < 200000; ++line)
            text += "line " + std::to_string(line) + " of the " + edition + " data file, edition " + edition + "\r\n";
        return text;
    }
    void SignSettings(const std::string& path, const std::string& version) const
    {
        ProfileFile settings(path);
        settings.WriteString("UpdateInfo", "Version", version);
        settings.WriteString("UpdateInfo", "AllowUnverifiedUpdates", "0");
        settings.WriteString("UpdateInfo", "PublicKey", publisher.PublicKey());
        settings.WriteString("UpdateInfo", "Product", RoadProduct);
    }

    // A host command run in the server's folder.
    void Host(const std::string& command) const { HostOutput(server.Root(), "cd '" + HostPath(server.Root()) + "' && " + command); }
    std::string Digest(const std::string& name) const { return publisher.Digest(server.Root() + name); }
    std::string Size(const std::string& name) const { return std::to_string(ReadWholeFile(server.Root() + name).size()); }

    // The keys of a file: "" for #url=, "_0" for #url0=, "_3" for #url3=.
    std::string WholeKeys(const std::string& number, const std::string& name) const
    {
        const std::string url = number.empty() ? "url" : "url" + number.substr(1);
        return "#" + url + "=" + server.Url("/" + name) + "\r\n#sha256" + number + "=" + Digest(name) + "\r\n#size" +
               number + "=" + Size(name) + "\r\n";
    }
    // The compressed form `frame` (served at `path`) and the patch `patch`
    // from the file of digest `source`.
    std::string CompressedKeys(const std::string& number, const std::string& frame, const std::string& path) const
    {
        return "#zurl" + number + "=" + server.Url(path) + "\r\n#zsha256" + number + "=" + Digest(frame) +
               "\r\n#zsize" + number + "=" + Size(frame) + "\r\n";
    }
    std::string PatchKey(const std::string& number, int j, const std::string& source, const std::string& patch,
                         const std::string& path) const
    {
        return "#patch" + number + "_" + std::to_string(j) + "=" + source + " " + Digest(patch) + " " + Size(patch) +
               " " + server.Url(path) + "\r\n";
    }
    void Publish(const std::string& keys) const
    {
        server.PutFile("info.txt", publisher.Signed("#product=" + std::string(RoadProduct) + "\r\n#version=2.0\r\n" +
                                                    keys + WholeKeys("_3", "update.ini")));
    }
    // Requests for exactly this path (RequestsFor matches a part of one).
    std::size_t Requests(const std::string& path) const
    {
        return server.RequestsFor("\"path\": \"" + path + "\"").size();
    }

    // The product starts the updater, which installs the release and starts it again.
    void Update() const
    {
        const UniqueKernelHandle running = StartProduct("");
        EXPECT_EQ(WaitForExit(running.get(), 60000), 0u);
        EXPECT_TRUE(PumpUntil([&] { return Starts().size() >= 2; }, 60000)) << ReadWholeFile(log);
        EXPECT_EQ(ReadWholeFile(App("app.exe")), newProduct);
        EXPECT_EQ(ReadWholeFile(App("data.txt")), newData);
        EXPECT_EQ(ProfileFile(App("update.ini")).ReadString("UpdateInfo", "Version"), "2.0");
        EXPECT_FALSE(HasPending());
        EXPECT_EQ(ReadWholeFile(messages), "") << "nothing is told: " << ReadWholeFile(log);
    }
};

TEST(FreshetRoads, APatchOrTheCompressedFormIsAllThatIsFetched)
{
    RoadRun run("roads");
    run.Host("zstd -q -f --patch-from=old-app.exe app.exe -o app.patch && zstd -q -f -1 app.exe -o app.exe.zst && "
             "zstd -q -f -19 data.txt -o data.txt.zst && zstd -q -f --patch-from=old-data.txt data.txt -o data.patch");
    // data.txt's patch is of another installed file than this one: never fetched.
    const std::string otherSource = run.Digest("app.exe");
    run.Publish(run.WholeKeys("", "app.exe") + run.CompressedKeys("", "app.exe.zst", "/app.exe.zst") +
                run.PatchKey("", 1, run.Digest("old-app.exe"), "app.patch", "/app.patch") +
                run.WholeKeys("_0", "data.txt") + run.CompressedKeys("_0", "data.txt.zst", "/data.txt.zst") +
                run.PatchKey("_0", 1, otherSource, "data.patch", "/data.patch"));

    run.Update();
    EXPECT_EQ(run.Requests("/app.patch"), 1u) << run.server.RequestLog();
    EXPECT_EQ(run.Requests("/app.exe"), 0u);
    EXPECT_EQ(run.Requests("/app.exe.zst"), 0u);
    EXPECT_EQ(run.Requests("/data.txt.zst"), 1u);
    EXPECT_EQ(run.Requests("/data.txt"), 0u);
    EXPECT_EQ(run.Requests("/data.patch"), 0u);
    EXPECT_EQ(run.server.RequestsFor("/app.patch")[0].find("Range"), std::string::npos) << "one plain request";
    const std::string log = ReadWholeFile(run.log);
    EXPECT_NE(log.find("fetched " + run.server.Url("/app.exe") + " as the patch of " + run.Size("app.patch") + " bytes"),
              std::string::npos)
        << log;
    EXPECT_NE(log.find("fetched " + run.server.Url("/data.txt") + " as the compressed form of " +
                       run.Size("data.txt.zst") + " bytes"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("is not taken"), std::string::npos) << log;
}

// Every road that fails costs one line of the log and hands over to the
// next: the patch to the compressed form, that to the whole file.
TEST(FreshetRoads, ARoadThatFailsFallsBackToTheNextInTheSameRun)
{
    struct Case {
        const char* what;
        const char* patchPath;  // null: no patch offered
        const char* framePath;  // null: no compressed form offered
        std::vector<const char*> fetched;
        std::vector<const char*> reasons;
    };
    const std::vector<Case> cases = {
        {"a corrupt patch", "/bad.patch", "/app.exe.zst", {"/bad.patch", "/app.exe.zst"},
         {"the patch of ", ") is not taken: ", "fetching the compressed form instead"}},
        {"a patch other than signed", "/lie.patch", "/app.exe.zst", {"/lie.patch", "/app.exe.zst"},
         {"is not taken: its download does not match its SHA-256 digest"}},
        {"a frame past the signed size", nullptr, "/long.zst", {"/long.zst", "/app.exe"},
         {"the compressed form of ", "is not taken: it does not decode", "fetching the whole file instead"}},
        {"a missing patch, a frame cut short", "/none.patch", "/cut/1000/-/app.exe.zst",
         {"/none.patch", "/cut/1000/-/app.exe.zst", "/app.exe"},
         {"is not taken: the server answered HTTP 404",
          "is not taken: the connection was lost; fetching the whole file instead"}},
    };
    for (const Case& c : cases) {
        RoadRun run("fallback");
        run.Host("zstd -q -f --patch-from=old-app.exe app.exe -o app.patch && zstd -q -f app.exe -o app.exe.zst && "
                 "cat app.exe app.exe > long.bin && zstd -q -f long.bin -o long.zst && cp app.patch bad.patch && "
                 "printf 'garbled!' | dd of=bad.patch bs=1 seek=40 conv=notrunc 2>/dev/null && "
                 "cp app.patch lie.patch && cp app.patch none.patch");
        std::string keys = run.WholeKeys("", "app.exe") + run.WholeKeys("_0", "data.txt");
        if (c.patchPath) {
            keys += run.PatchKey("", 1, run.Digest("old-app.exe"), std::string(c.patchPath).substr(1), c.patchPath);
        }
        if (c.framePath) {
            const std::string frame = std::string(c.framePath).substr(std::string(c.framePath).rfind('/') + 1);
            keys += run.CompressedKeys("", frame, c.framePath);
        }
        run.Publish(keys);
        // What the server holds differs from what was signed.
        DeleteFileW(WideFromUtf8(run.server.Root() + "none.patch").c_str());
        run.Host("printf 'x' | dd of=lie.patch bs=1 seek=20 conv=notrunc 2>/dev/null");

        run.Update();
        for (const char* path : c.fetched)
            EXPECT_EQ(run.Requests(path), 1u) << c.what << ": " << path << run.server.RequestLog();
        if (c.fetched.back() != std::string("/app.exe")) {
            EXPECT_EQ(run.Requests("/app.exe"), 0u) << c.what;
        }
        const std::string log = ReadWholeFile(run.log);
        for (const char* reason : c.reasons)
            EXPECT_NE(log.find(reason), std::string::npos) << c.what << ": " << reason << "\n" << log;
    }
}

// Roads that all fail and a whole file that fails too: the user is told what
// a release without roads tells, nothing more; the log names each road.
TEST(FreshetRoads, WhenTheWholeFileFailsTooTheFailureIsToldAsWithoutRoads)
{
    std::vector<std::string> told;
    for (const bool roads : {false, true}) {
        RoadRun run("failing");
        run.Host("zstd -q -f --patch-from=old-app.exe app.exe -o app.patch && zstd -q -f app.exe -o app.exe.zst");
        std::string keys = run.WholeKeys("", "app.exe") + run.WholeKeys("_0", "data.txt");
        if (roads)
            keys += run.PatchKey("", 1, run.Digest("old-app.exe"), "app.patch", "/app.patch") +
                    run.CompressedKeys("", "app.exe.zst", "/app.exe.zst");
        run.Publish(keys);
        for (const char* name : {"app.exe", "app.patch", "app.exe.zst"})
            DeleteFileW(WideFromUtf8(run.server.Root() + name).c_str());

        const UniqueKernelHandle running = run.StartProduct("");
        EXPECT_TRUE(PumpUntil([&] { return ReadWholeFile(run.messages).find("Update aborted") != std::string::npos; },
                              60000))
            << ReadWholeFile(run.log) << ReadWholeFile(run.messages);
        PumpMessagesFor(500);
        TerminateProcess(running.get(), 0);
        EXPECT_EQ(ReadWholeFile(run.App("app.exe")), run.product);
        EXPECT_EQ(ReadWholeFile(run.App("data.txt")), RoadRun::BigText("old"));
        EXPECT_FALSE(run.HasPending());
        EXPECT_EQ(run.Requests("/app.exe"), 1u) << run.server.RequestLog();
        const std::string log = ReadWholeFile(run.log);
        EXPECT_EQ(log.find("the patch of " + run.server.Url("/app.exe") + " (" + run.server.Url("/app.patch") +
                           ") is not taken: the server answered HTTP 404; fetching the compressed form instead") !=
                      std::string::npos,
                  roads)
            << log;
        EXPECT_EQ(log.find("the compressed form of " + run.server.Url("/app.exe") + " (" +
                           run.server.Url("/app.exe.zst") +
                           ") is not taken: the server answered HTTP 404; fetching the whole file instead") !=
                      std::string::npos,
                  roads)
            << log;
        told.push_back(ReadWholeFile(run.messages));
    }
    EXPECT_EQ(told[1], told[0]);
}

// A disk with room for the compressed form but not for the file it makes:
// that road is not taken, the whole file does not fit either, and the user
// is told of the full disk, naming the download, as without roads.
TEST(FreshetRoads, ADiskTooFullForTheInflatedFileFallsBackAndTellsTheFullDisk)
{
    // The product (about 5 MB), freshet.exe, the data and the compressed form fit, with room for freshet.exe
    // to grow by half a megabyte; a second product does not.
    const SmallDisk full(9 * 1024 + 512);
    if (!full.Unavailable().empty())
        GTEST_SKIP() << full.Unavailable();
    RoadRun run("fulldisk", full.Path() + "app\\");
    run.Host("zstd -q -f app.exe -o app.exe.zst");
    run.Publish(run.WholeKeys("", "app.exe") + run.CompressedKeys("", "app.exe.zst", "/app.exe.zst") +
                run.WholeKeys("_0", "data.txt"));

    const UniqueKernelHandle running = run.StartProduct("");
    EXPECT_TRUE(PumpUntil([&] { return !ReadWholeFile(run.messages).empty(); }, 60000)) << ReadWholeFile(run.log);
    PumpMessagesFor(500);
    TerminateProcess(running.get(), 0);
    EXPECT_EQ(ReadWholeFile(run.App("app.exe")), run.product);
    EXPECT_FALSE(run.HasPending());
    EXPECT_EQ(run.Requests("/app.exe.zst"), 1u) << run.server.RequestLog();
    EXPECT_EQ(run.Requests("/app.exe"), 1u);
    const std::string log = ReadWholeFile(run.log);
    EXPECT_NE(log.find("the compressed form of " + run.server.Url("/app.exe") + " (" + run.server.Url("/app.exe.zst") +
                       ") is not taken: the file " + run.App("app.exe.uTMP") + " cannot be written: " +
                       ErrorText(ERROR_DISK_FULL) + "; fetching the whole file instead"),
              std::string::npos)
        << log;
    const std::string told = ReadWholeFile(run.messages);
    EXPECT_NE(told.find("The file " + run.App("app.exe.uTMP") + " cannot be written on this computer"),
              std::string::npos)
        << told;
    EXPECT_EQ(told.find("can't connect"), std::string::npos) << told;
}

}  // namespace
