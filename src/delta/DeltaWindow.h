#pragma once
// The window a road of `bytes` (source and output together) needs: the
// encoder sizes its frames by it, the decoder refuses frames that ask more.
#include <cstdint>

// The smallest window log that covers `bytes`, between zstd's least (10) and
// `most` (its largest for the machine).
constexpr int DeltaWindowLog(std::uint64_t bytes, int most) {
    int log = 10;
    while (log < most && (std::uint64_t{1} << log) < bytes) {
        ++log;
    }
    return log;
}
