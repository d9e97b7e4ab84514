#pragma once
// The publisher's side of the download roads that TDeltaDecoder reads: a
// compressed form (one zstd frame of the whole file) and a one-hop patch (one
// frame made with the earlier file as its prefix, as `zstd --patch-from`
// makes). Both carry their size and a checksum, and ask for no larger window
// than their files need. Throws EDeltaEncodeError when the library fails (no
// memory for the level). Platform-free: no <windows.h> here.
#include <cstdint>
#include <span>
#include <stdexcept>
#include <vector>

class EDeltaEncodeError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The level is zstd's (1 to 22; 22 is what `--ultra -22` means), with long
// matching over a window sized to the files.
std::vector<std::uint8_t> EncodeCompressed(std::span<const std::uint8_t> bytes, int level);
std::vector<std::uint8_t> EncodePatch(std::span<const std::uint8_t> source, std::span<const std::uint8_t> target,
                                      int level);
