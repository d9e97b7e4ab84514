// The processor's and the portable SHA-256 give the same digest of any bytes
// fed in any split.
#include "core/Sha256.h"
#include "FuzzRequire.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    TSha256 best;
    TSha256 portable(TSha256::TEngine::Portable);
    const std::size_t piece = size ? 1 + data[0] : 1;
    for (std::size_t at = 0; at < size; at += piece)
        best.Update(data + at, std::min(piece, size - at));
    portable.Update(data, size);
    Require(best.Finish() == portable.Finish(), "both engines agree");
    return 0;
}
