#pragma once
// The upgrade information file as kdrelease writes it, and the rules its
// inputs must meet so that the engine reads back exactly what was meant.
// Every rule returns an empty text when the input may be used, else why not,
// in words for the publisher. The engine's own rules (update_core) decide
// wherever it has one. Platform-free: no <windows.h> here.

#include "update/auReleaseRules.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A cheaper way to a file than the file: its compressed form, or a one-hop
// patch from an earlier release's file (sourceSha256), published under
// RoadsFolder.
struct ReleaseRoad {
    std::string name;  // in RoadsFolder
    std::uint64_t size = 0;
    std::string sha256;        // 32 bytes
    std::string sourceSha256;  // 32 bytes for a patch; empty for the compressed form
};

// One file of the release.
struct ReleaseFile {
    std::string name;  // UTF-8, as the folder names it
    std::uint64_t size = 0;
    std::string sha256;  // 32 bytes
    std::vector<ReleaseRoad> roads;  // the compressed form first, if any
};

// The name of the information file make writes into the release folder; it
// is never a file of the release.
inline constexpr const char* InfoFileName = "info.txt";
// The subfolder of a release folder that holds the roads; no file of the release.
inline constexpr const char* RoadsFolder = "roads";
// The address of a road's file.
std::string RoadAddress(std::string_view base, std::string_view roadName);

// make --previous: up to this many earlier releases by default, never more
// than the patches an installed copy reads per file.
inline constexpr int DefaultPreviousLimit = 3;
std::string PreviousLimitProblem(std::string_view limit);
// A patch is published only when it is at most this share of the cheapest
// other road (the compressed form, else the whole file): a patch barely
// smaller costs a second download whenever it fails, for little gain.
inline constexpr double DefaultPatchShare = 0.9;
std::string PatchShareProblem(std::string_view share);

struct ReleaseSettings {
    std::string version;
    std::string product;
    std::string baseURL;      // ends with "/" (ReleaseBase)
    std::string message;      // empty: no message block
    std::string moreInfoURL;  // empty: none
    std::optional<TauUtcTime> expires;
    std::optional<int> rollout;  // percent
};

// The version must be plain: what the engine demands of a signed version.
std::string VersionProblem(std::string_view version);
std::string ProductProblem(std::string_view product);
// An http or https address of a host without query or fragment (the file
// names follow it); http only with allowHttp, for test servers.
std::string BaseURLProblem(std::string_view url, bool allowHttp);
// The base with a "/" at its end.
std::string ReleaseBase(std::string_view url);
// An address the engine's what's-new page loads.
std::string MoreInfoProblem(std::string_view url);
// Strict UTF-8 without "}" (the end of the block) or a "#key=" of its own.
std::string MessageProblem(std::string_view message);
// Whether the engine downloads the file of this address to its own name.
std::string FileNameProblem(std::string_view name, std::string_view address);
std::string RolloutProblem(std::string_view percent);
// Days from now until the file expires: 1 to 36500; make's default.
inline constexpr int DefaultExpiryDays = 90;
std::string ExpiryDaysProblem(std::string_view days);

// The UTF-8 bytes of a name, all but the unreserved characters of RFC 3986
// as %XX.
std::string PercentEncoded(std::string_view name);
std::string ReleaseAddress(std::string_view base, std::string_view name);

// What follows "url", "sha256_" and "size_" for the file at this place of the
// list, by the engine's numbering rule: "", "0", "3", "4", ...
std::string FileKeyNumber(std::size_t index);

// The information file up to its signature line: the version, product,
// expiry, rollout and more-info address, each file's address, digest and
// size and its roads (#zurl, #zsha256, #zsize; #patch_J), then the message;
// CR LF after every line.
std::string ReleaseInfoText(const ReleaseSettings& settings, const std::vector<ReleaseFile>& files);

// A warning for a release with program files (".exe") but no "freshet.exe":
// installed copies keep their updater and take each program under its own
// name, never as a renamed updater. Empty when there is nothing to say.
std::string UpdaterWarning(const std::vector<ReleaseFile>& files);
// The last line: "#signature=", the base64 of the DER signature, CR LF.
std::string SignatureLine(std::string_view rs);
// Empty when the engine reads the signed file back as written; else what it
// would read differently (a safety net behind the rules above).
std::string ReadBackProblem(std::string_view signedFile, const ReleaseSettings& settings,
                            const std::vector<ReleaseFile>& files);

// "YYYY-MM-DDTHH:MM:SSZ", the form ParseUtcTime reads.
std::string UtcTimeText(const TauUtcTime& time);
TauUtcTime UtcTimeOf(std::chrono::system_clock::time_point moment);
