#include "delta/DeltaEncoder.h"

#include "delta/DeltaWindow.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <memory>
#include <string>

namespace {

struct TContextFree {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

void Check(std::size_t result, const char* step) {
    if (ZSTD_isError(result)) {
        throw EDeltaEncodeError(std::string("zstd: ") + step + " failed (error " +
                                std::to_string(ZSTD_getErrorCode(result)) + ")");
    }
}

// `prefix` is empty for a compressed form.
std::vector<std::uint8_t> Encode(std::span<const std::uint8_t> prefix, std::span<const std::uint8_t> target,
                                 int level) {
    std::unique_ptr<ZSTD_CCtx, TContextFree> context(ZSTD_createCCtx());
    if (!context) {
        throw EDeltaEncodeError("zstd: no memory for a compression context");
    }
    auto* c = context.get();
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level), "setting the level");
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_checksumFlag, 1), "asking for a checksum");
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1), "asking for long matching");
    // Far matches into the prefix need a window over both files; the decoder
    // accepts no larger one.
    const int windowLog = DeltaWindowLog(prefix.size() + target.size(), ZSTD_WINDOWLOG_MAX);
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, windowLog), "setting the window");
    Check(ZSTD_CCtx_setPledgedSrcSize(c, target.size()), "giving the size");
    if (!prefix.empty()) {
        Check(ZSTD_CCtx_refPrefix(c, prefix.data(), prefix.size()), "taking the earlier file");
    }
    std::vector<std::uint8_t> frame(ZSTD_compressBound(target.size()));
    // The library offsets the input pointer even when it is empty: it must not be null.
    static const std::uint8_t nothing = 0;
    const void* input = target.empty() ? &nothing : target.data();
    const std::size_t size = ZSTD_compress2(c, frame.data(), frame.size(), input, target.size());
    Check(size, "compressing");
    frame.resize(size);
    return frame;
}

}  // namespace

std::vector<std::uint8_t> EncodeCompressed(std::span<const std::uint8_t> bytes, int level) {
    return Encode({}, bytes, level);
}

std::vector<std::uint8_t> EncodePatch(std::span<const std::uint8_t> source, std::span<const std::uint8_t> target,
                                      int level) {
    return Encode(source, target, level);
}
