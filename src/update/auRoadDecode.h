#pragma once
// The last step of a cheaper road: its body, fetched and checked against its
// own signed digest, turned into the release file's download. A patch is
// applied to the installed file, a compressed form inflated; either way the
// download is written anew while it is hashed, flushed, and must come out as
// exactly the release file's signed size and SHA-256. Runs on the caller's
// thread; raises nothing.
#include "update/auRoadChoice.h"
#include "winutil/UniqueHandle.h"

#include <cstddef>
#include <cstdint>
#include <string>

// An installed file as the engine reads it: shared with other readers, never
// through a link (the stub checks the entry itself, which a link's target
// cannot vouch for); invalid for a link or a file that cannot be opened.
UniqueFile OpenInstalledFile(const std::string& path);

// A patch is applied only to an installed file of at most this size, which
// is mapped whole into memory (on a local fixed disk) or read whole.
inline constexpr std::size_t MaxPatchSource = std::size_t{1} << 30;

// What the road is to make of `body`: the installed file a patch applies to,
// the download to write, and the release file's signed size and digest.
struct TauRoadTarget {
    std::string installed;
    std::string download;
    std::uint64_t size = 0;
    std::string sha256;  // 32 bytes
    bool hidden = true;
};

// Empty when `download` holds the release file, flushed; else why not (the
// download may then hold a part and is the caller's to delete).
std::string DecodeRoad(const TauRoad& road, const std::string& body, const TauRoadTarget& target);
