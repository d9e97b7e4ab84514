#pragma once
// The cheaper roads to a release's files: make --previous writes each file's
// compressed form and one-hop patches from the earlier releases into the
// folder's RoadsFolder, and verify rebuilds every road the signed file lists
// into its file. Platform-free: no <windows.h> here.

#include "kdrelease/ReleaseInfo.h"
#include "update/auInfoFile.h"

#include <filesystem>
#include <string>
#include <vector>

struct RoadSettings {
    std::vector<std::filesystem::path> previous;  // earlier release folders, newest first
    double patchShare = DefaultPatchShare;
    bool replace = false;  // --force: road files already there are replaced
};

// Writes the roads of every file and lists them in its `roads`: the
// compressed form when it is smaller than the file, and a patch from each
// distinct earlier file of the same name (any ASCII case) that differs,
// unless it is more than patchShare of the cheapest other road. Returns a
// line for the publisher per patch left out. Throws ReleaseError.
std::vector<std::string> MakeRoads(const std::filesystem::path& folder, std::vector<ReleaseFile>& files,
                                   const RoadSettings& settings);

// Every road of the signed text, rebuilt from the folder's RoadsFolder (the
// patches' sources from the earlier folders) and compared with the file's
// signed digest and size: one problem per road that fails or cannot be
// found; `checked` counts those that rebuilt their file.
std::vector<std::string> RoadProblems(const TauInfoFileText& info, const std::filesystem::path& folder,
                                      const std::vector<std::filesystem::path>& previous, std::size_t& checked);
