#include "delta/DeltaEncoder.h"

#include "delta/DeltaWindow.h"

#include <zstd.h>
#include <zstd_errors.h>

#include <memory>
#include <stdexcept>

namespace {

struct TContextFree {
    void operator()(ZSTD_CCtx* context) const { ZSTD_freeCCtx(context); }
};

void Check(std::size_t result, const char* what)
{
    if (ZSTD_isError(result))
        throw std::runtime_error(std::string("zstd cannot ") + what + " (error " +
                                 std::to_string(static_cast<int>(ZSTD_getErrorCode(result))) + ")");
}

// One frame of `target`, its content size declared, with the window the
// decoder allows for a prefix of `prefix` bytes and that output.
std::string Encode(std::string_view prefix, std::string_view target, int level)
{
    const std::unique_ptr<ZSTD_CCtx, TContextFree> context(ZSTD_createCCtx());
    if (!context)
        throw std::runtime_error("zstd cannot make a compression context");
    ZSTD_CCtx* c = context.get();
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_compressionLevel, level), "take the level");
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_windowLog, DeltaWindowLog(prefix.size() + target.size())),
          "take the window");
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_enableLongDistanceMatching, 1), "match long");
    Check(ZSTD_CCtx_setParameter(c, ZSTD_c_contentSizeFlag, 1), "declare the size");
    if (!prefix.empty())
        Check(ZSTD_CCtx_refPrefix(c, prefix.data(), prefix.size()), "take the earlier file");
    std::string frame(ZSTD_compressBound(target.size()), '\0');
    const std::size_t size = ZSTD_compress2(c, frame.data(), frame.size(), target.data(), target.size());
    Check(size, "compress");
    frame.resize(size);
    return frame;
}

}  // namespace

std::string EncodeCompressed(std::string_view bytes, int level)
{
    return Encode({}, bytes, level);
}

std::string EncodePatch(std::string_view source, std::string_view target, int level)
{
    return Encode(source, target, level);
}
