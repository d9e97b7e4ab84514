// make --previous on real folders: each file's compressed form and its
// patches from the earlier releases written and signed, verify rebuilding
// every road into its file, a damaged road and road options that cannot be
// used refused with their reasons.
#include "ReleaseTestSupport.h"

#include "kdrelease/ReleaseFiles.h"
#include "update/auInfoFile.h"
#include "update/auSignedInfo.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// A text of numbered lines, as a program's data would change between releases.
std::string Lines(int count, const std::string& changed = {})
{
    std::string text;
    for (int i = 0; i < count; ++i)
        text += "line " + std::to_string(i) + (i == count / 2 ? changed : std::string()) + " of the product's data\n";
    return text;
}

std::string Ini(const std::string& version, const std::string& publicKey)
{
    return "[UpdateInfo]\r\nProcessName=App.exe\r\nVersion=" + version + "\r\nInfoURL=https://dl.example.com/"
           "rel/info.txt\r\nPublicKey=" + publicKey + "\r\nProduct=Keldora Demo\r\n";
}

// Two earlier releases and the new one: App.exe changed in each, data.bin
// the same in all, new.txt new.
struct Releases {
    TempFolder temp;
    std::string key = temp / "publisher.pem";
    std::string publicKey;
    std::string folder = temp / "rel3";
    std::string first = temp / "rel1";
    std::string second = temp / "rel2";

    Releases()
    {
        publicKey = PublicKeyIn(RunKdrelease({"keygen", key}).out);
        temp.Add("rel1/App.exe", Lines(4000, " first"));
        temp.Add("rel2/App.exe", Lines(4000, " second"));
        temp.Add("rel3/App.exe", Lines(4000, " third"));
        for (const char* release : {"rel1", "rel2", "rel3"})
            temp.Add(std::string(release) + "/data.bin", Lines(3000));
        temp.Add("rel3/new.txt", Lines(500));
        temp.Add("rel3/update.ini", Ini("3.0", publicKey));
    }
    std::vector<std::string> Make(std::vector<std::string> extra) const
    {
        std::vector<std::string> arguments = {"make",         "--key",      key,    "--version", "3.0", "--product",
                                              "Keldora Demo", "--base-url", "https://dl.example.com/rel"};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(folder);
        return arguments;
    }
    ReleaseRun Verify(std::vector<std::string> extra) const
    {
        std::vector<std::string> arguments = {"verify", "--public-key", publicKey};
        arguments.insert(arguments.end(), extra.begin(), extra.end());
        arguments.push_back(folder + "/info.txt");
        arguments.push_back(folder);
        return RunKdrelease(arguments);
    }
};

TEST(ReleaseRoads, MakeWritesEachFilesRoadsAndVerifyRebuildsEveryOne)
{
    const Releases r;
    const ReleaseRun made = RunKdrelease(r.Make({"--previous", r.second, "--previous", r.first}));
    ASSERT_EQ(made.code, 0) << made.err;
    EXPECT_NE(made.out.find("/rel/App.exe (" + std::to_string(Lines(4000, " third").size()) + " bytes; compressed "),
              std::string::npos)
        << made.out;
    EXPECT_NE(made.out.find("; 2 patches)"), std::string::npos) << made.out;

    // The signed keys, read back as the engine reads them.
    const std::string info = ReadText(r.folder + "/info.txt");
    const TauSignedInfo parts = SplitSignedInfo(info);
    ASSERT_EQ(parts.failure, "");
    const TauReleaseRoads roads = ReleaseRoads(TauInfoFileText(parts.signedText));
    EXPECT_TRUE(roads.notes.empty());
    ASSERT_EQ(roads.files.size(), 4u);
    const TauFileRoads& app = roads.files[0];
    EXPECT_EQ(app.url, "https://dl.example.com/rel/App.exe");
    ASSERT_TRUE(app.compressed);
    EXPECT_EQ(app.compressed->url, "https://dl.example.com/rel/roads/App.exe.zst");
    EXPECT_LT(app.compressed->size, Lines(4000).size() / 10);
    ASSERT_EQ(app.patches.size(), 2u) << info;
    for (const TauPatch& patch : app.patches) {
        EXPECT_LT(patch.size, app.compressed->size / 4) << "one changed line costs a few bytes";
        EXPECT_TRUE(Exists(r.folder + "/roads/" + patch.url.substr(patch.url.rfind('/') + 1))) << patch.url;
    }
    EXPECT_NE(app.patches[0].sourceSha256, app.patches[1].sourceSha256);
    EXPECT_NE(info.find("#patch_1="), std::string::npos);
    EXPECT_NE(info.find("#zurl_0=https://dl.example.com/rel/roads/data.bin.zst\r\n"), std::string::npos);
    EXPECT_TRUE(roads.files[1].patches.empty()) << "data.bin is the earlier releases' own";
    EXPECT_NE(info.find("#zurl_3=https://dl.example.com/rel/roads/new.txt.zst\r\n"), std::string::npos);
    EXPECT_TRUE(roads.files[2].patches.empty()) << "new.txt has no earlier self";

    ReleaseRun verified = r.Verify({"--previous", r.first, "--previous", r.second});
    EXPECT_EQ(verified.code, 0) << verified.out << verified.err;
    EXPECT_NE(verified.out.find("roads rebuilds its file"), std::string::npos) << verified.out;

    // Without the earlier releases the patches cannot be applied, and say so.
    verified = r.Verify({});
    EXPECT_EQ(verified.code, 1) << verified.out;
    EXPECT_NE(verified.out.find("road: patch 1 of https://dl.example.com/rel/App.exe: its source (SHA-256 "),
              std::string::npos)
        << verified.out;
    EXPECT_NE(verified.out.find(") is in none of the --previous folders"), std::string::npos) << verified.out;

    // A damaged patch is told by its name and never taken for the file.
    const std::string patchFile = r.folder + "/roads/" + app.patches[1].url.substr(app.patches[1].url.rfind('/') + 1);
    std::string patch = ReadText(patchFile);
    patch[patch.size() / 2] ^= 0x40;
    r.temp.Add("rel3/roads/" + patchFile.substr(patchFile.rfind('/') + 1), patch);
    verified = r.Verify({"--previous", r.first, "--previous", r.second});
    EXPECT_EQ(verified.code, 1) << verified.out;
    const std::string patchName = patchFile.substr(patchFile.rfind('/') + 1);
    EXPECT_NE(verified.out.find("road: patch 2 of https://dl.example.com/rel/App.exe: "), std::string::npos)
        << verified.out;
    EXPECT_NE(verified.out.find(patchName + " is not the signed " + std::to_string(app.patches[1].size) +
                                " bytes of its digest"),
              std::string::npos)
        << verified.out;
    EXPECT_EQ(verified.out.find("road: patch 1 "), std::string::npos) << "only the damaged road fails";

    // A share no patch meets: none is written, each said.
    const ReleaseRun small = RunKdrelease(r.Make({"--force", "--previous", r.second, "--patch-share", "0.0001"}));
    ASSERT_EQ(small.code, 0) << small.err;
    EXPECT_NE(small.out.find("no patch of App.exe from "), std::string::npos) << small.out;
    const std::string remade = ReadText(r.folder + "/info.txt");
    EXPECT_EQ(remade.find("#patch_"), std::string::npos) << remade;
    EXPECT_NE(remade.find("#zurl="), std::string::npos) << remade;
}

TEST(ReleaseRoads, RoadOptionsThatCannotBeUsedAreRefusedAndNothingIsWritten)
{
    const Releases r;
    const std::string missing = r.temp / "rel0";
    struct Case {
        std::vector<std::string> extra;
        std::string reason;
    };
    const std::vector<Case> cases = {
        {{"--previous", r.first, "--previous-limit", "9"},
         "the limit of earlier releases \"9\" is not a whole number from 1 to 8"},
        {{"--previous", r.first, "--previous-limit", "0"}, "the limit of earlier releases \"0\""},
        {{"--previous", r.first, "--previous", r.second, "--previous", r.first, "--previous", r.second},
         "--previous names 4 earlier releases, more than the limit of 3 (--previous-limit)"},
        {{"--previous", r.first, "--previous", r.second, "--previous-limit", "1"},
         "--previous names 2 earlier releases, more than the limit of 1"},
        {{"--previous", missing}, missing + ": --previous names no folder of an earlier release there"},
        {{"--previous", r.first, "--patch-share", "1.5"}, "the patch share \"1.5\" is not a number above 0 and at most 1"},
        {{"--previous", r.first, "--patch-share", "most"}, "the patch share \"most\""},
    };
    for (const Case& c : cases) {
        const ReleaseRun run = RunKdrelease(r.Make(c.extra));
        EXPECT_EQ(run.code, 1) << c.reason << run.out;
        EXPECT_NE(run.err.find("kdrelease: " + c.reason), std::string::npos) << run.err;
        EXPECT_FALSE(Exists(r.folder + "/info.txt")) << c.reason;
        EXPECT_FALSE(Exists(r.folder + "/roads")) << c.reason;
    }
    const ReleaseRun empty = RunKdrelease(r.Make({"--previous="}));
    EXPECT_EQ(empty.code, 2);
    EXPECT_NE(empty.err.find("--previous needs a value"), std::string::npos) << empty.err;
    const ReleaseRun other = RunKdrelease({"verify", "--public-key", r.publicKey, "--previous-limit", "2", r.folder});
    EXPECT_EQ(other.code, 2);
    EXPECT_NE(other.err.find("unknown option --previous-limit for verify"), std::string::npos) << other.err;
}

}  // namespace
