#include "auRoadChoice.h"

#include <algorithm>

std::vector<TauRoad> CheaperRoads(const TauFileRoads& roads, const std::optional<std::string>& installedSha256,
                                  std::uint64_t wholeSize)
{
    std::vector<TauRoad> chosen;
    if (installedSha256) {
        // Inserted in order rather than sorted after: of equal sizes the first
        // listed stays first, and no sort is instantiated for a handful of roads.
        for (const TauPatch& patch : roads.patches) {
            if (patch.sourceSha256 != *installedSha256 || patch.size >= wholeSize)
                continue;
            const auto at = std::upper_bound(chosen.begin(), chosen.end(), patch.size,
                                             [](std::uint64_t size, const TauRoad& road) { return size < road.size; });
            chosen.insert(at, {TauRoad::Patch, patch.url, patch.sha256, patch.size, patch.sourceSha256});
        }
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
