#pragma once
// The publisher's side of the download roads: a file's compressed form (one
// zstd frame of the whole file) and a one-hop patch (one zstd frame made with
// the earlier file as its prefix), each with a window no larger than what
// TDeltaDecoder allows for the same sizes. Platform-free: no <windows.h>
// here. Throws std::runtime_error when the library fails.
#include <string>
#include <string_view>

// Level 19 with long matching: what every installed copy may fetch.
inline constexpr int CompressedLevel = 19;
// Level 22 with a window over both files: worth its time, made once.
inline constexpr int PatchLevel = 22;

std::string EncodeCompressed(std::string_view bytes, int level = CompressedLevel);
std::string EncodePatch(std::string_view source, std::string_view target, int level = PatchLevel);
