// Which cheaper roads the engine tries for a file, and in which order.
#include "update/auRoadChoice.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> Addresses(const std::vector<TauRoad>& roads)
{
    std::vector<std::string> addresses;
    for (const TauRoad& road : roads)
        addresses.push_back(road.url);
    return addresses;
}

TEST(RoadChoice, PatchesOfTheInstalledFileSmallestFirstThenTheCompressedFormAndNothingDearerThanTheFile)
{
    const std::string installed(32, 'i');
    const std::string other(32, 'o');
    const TauFileRoads roads{"app.exe",
                             TauCompressedForm{"app.exe.zst", std::string(32, 'z'), 600},
                             {{"big.patch", installed, std::string(32, 'b'), 300},
                              {"other.patch", other, std::string(32, 'x'), 10},
                              {"small.patch", installed, std::string(32, 's'), 200},
                              {"huge.patch", installed, std::string(32, 'h'), 1000}}};

    const std::vector<TauRoad> chosen = CheaperRoads(roads, installed, 1000);
    EXPECT_EQ(Addresses(chosen), (std::vector<std::string>{"small.patch", "big.patch", "app.exe.zst"}));
    ASSERT_EQ(chosen.size(), 3u);
    EXPECT_EQ(chosen[0].kind, TauRoad::Patch);
    EXPECT_EQ(chosen[0].sha256, std::string(32, 's'));
    EXPECT_EQ(chosen[0].sourceSha256, installed);
    EXPECT_EQ(RoadName(chosen[0]), "the patch");
    EXPECT_EQ(chosen[2].kind, TauRoad::Compressed);
    EXPECT_EQ(chosen[2].size, 600u);
    EXPECT_EQ(RoadName(chosen[2]), "the compressed form");

    // An installed file that cannot be read, or one no patch is from: the compressed form only.
    EXPECT_EQ(Addresses(CheaperRoads(roads, std::nullopt, 1000)), (std::vector<std::string>{"app.exe.zst"}));
    EXPECT_EQ(Addresses(CheaperRoads(roads, std::string(32, 'n'), 1000)), (std::vector<std::string>{"app.exe.zst"}));
    // A file smaller than every road is fetched whole.
    EXPECT_TRUE(CheaperRoads(roads, installed, 200).empty());
    EXPECT_TRUE(CheaperRoads(TauFileRoads{"plain.dll", std::nullopt, {}}, installed, 1000).empty());
}

}  // namespace
