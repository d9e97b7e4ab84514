#include "auRoadChoice.h"

#include <algorithm>

std::vector<TauRoad> CheaperRoads(const TauFileRoads& roads, const std::optional<std::string>& installedSha256,
                                  std::uint64_t wholeSize)
{
    std::vector<TauRoad> chosen;
    if (installedSha256) {
        for (const TauPatch& patch : roads.patches) {
            if (patch.sourceSha256 == *installedSha256 && patch.size < wholeSize)
                chosen.push_back({TauRoad::Patch, patch.url, patch.sha256, patch.size, patch.sourceSha256});
        }
        std::stable_sort(chosen.begin(), chosen.end(),
                         [](const TauRoad& a, const TauRoad& b) { return a.size < b.size; });
    }
    if (roads.compressed && roads.compressed->size < wholeSize)
        chosen.push_back({TauRoad::Compressed, roads.compressed->url, roads.compressed->sha256, roads.compressed->size,
                          {}});
    return chosen;
}

std::string_view RoadName(const TauRoad& road)
{
    return road.kind == TauRoad::Patch ? "the patch" : "the compressed form";
}
