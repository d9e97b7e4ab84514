#pragma once
// Which cheaper roads to a release file the engine tries before the whole
// file, and in which order. Platform-free: no <windows.h> here.
//
// A patch is taken only when its source is the installed file as hashed now
// (an installed file may differ from what was published); a road that would
// cost as many bytes as the whole file, or more, is no cheaper and left out.
#include "update/auSignedInfo.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The body of a road to "<name>.uTMP" is fetched to "<name>.uTMP.road",
// which no release file's download can be named.
inline constexpr std::string_view RoadSuffix = ".road";

struct TauRoad {
    enum Kind { Patch, Compressed };
    Kind kind = Compressed;
    std::string url;
    std::string sha256;        // 32 bytes: the road's own body
    std::uint64_t size = 0;    // the road's own body
    std::string sourceSha256;  // a patch's: the installed file it applies to
};

// The roads to try, cheapest first: the patches of the installed file's
// digest (the smallest first), then the compressed form. Empty without an
// installed digest for patches and without a compressed form.
std::vector<TauRoad> CheaperRoads(const TauFileRoads& roads, const std::optional<std::string>& installedSha256,
                                  std::uint64_t wholeSize);

// "the patch" or "the compressed form", for the log.
std::string_view RoadName(const TauRoad& road);
