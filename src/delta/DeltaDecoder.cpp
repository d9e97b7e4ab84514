#include "delta/DeltaDecoder.h"

#include "delta/DeltaWindow.h"

#define ZSTD_STATIC_LINKING_ONLY
#include <zstd.h>
#include <zstd_errors.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <new>
#include <vector>

namespace {

// Each block the library asks for carries its size in front, so that freeing
// it can give the bytes back to the budget.
constexpr std::size_t BlockHeader = alignof(std::max_align_t);
// The library's allocations for one frame: its context, the dictionary of a
// prefix, and its input and window buffers (one block); some to spare.
constexpr std::uint64_t BlockHeadersAllowed = 8 * BlockHeader;

// What the library may hold: allocations past the limit fail, and the
// library reports that as an allocation error.
struct TBudget {
    std::uint64_t limit = 0;
    std::uint64_t held = 0;
};

void* BudgetAlloc(void* opaque, std::size_t size) {
    auto& budget = *static_cast<TBudget*>(opaque);
    if (size > SIZE_MAX - BlockHeader || size + BlockHeader > budget.limit - budget.held) {
        return nullptr;
    }
    auto* block = static_cast<unsigned char*>(std::malloc(size + BlockHeader));
    if (block == nullptr) {
        return nullptr;
    }
    std::memcpy(block, &size, sizeof size);
    budget.held += size + BlockHeader;
    return block + BlockHeader;
}

void BudgetFree(void* opaque, void* address) {
    if (address == nullptr) {
        return;
    }
    auto& budget = *static_cast<TBudget*>(opaque);
    auto* block = static_cast<unsigned char*>(address) - BlockHeader;
    std::size_t size = 0;
    std::memcpy(&size, block, sizeof size);
    budget.held -= size + BlockHeader;
    std::free(block);
}

struct TContextFree {
    void operator()(ZSTD_DCtx* context) const { ZSTD_freeDCtx(context); }
};

std::uint64_t SaturatingSum(std::uint64_t a, std::uint64_t b) {
    return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

std::string Number(std::uint64_t value) {
    return std::to_string(value);
}

}  // namespace

struct TDeltaDecoder::TState {
    TState(std::span<const std::uint8_t> source, std::uint64_t outputSize, bool patch);

    std::string Decode(std::span<const std::uint8_t> input,
                       const std::function<void(std::span<const std::uint8_t>)>& output);
    std::string TakeHeader(std::span<const std::uint8_t>& input);
    std::string CheckHeader(const ZSTD_frameHeader& header) const;
    std::string Inflate(std::span<const std::uint8_t> input,
                        const std::function<void(std::span<const std::uint8_t>)>& output);
    std::string LibraryRefusal(std::size_t code) const;
    std::string Ending() const;
    template <class Step>
    void Guarded(Step step) noexcept;
    std::string Trailing() const { return "bytes follow the end of the " + kind + "'s frame"; }

    std::span<const std::uint8_t> source;
    std::uint64_t outputSize;
    std::string kind;
    int windowLog;
    std::uint64_t bound = 0;
    // Declared before the context, which gives its blocks back to it when freed.
    TBudget budget;
    std::unique_ptr<ZSTD_DCtx, TContextFree> context;
    std::array<std::uint8_t, ZSTD_FRAMEHEADERSIZE_MAX> header{};
    std::size_t headerHeld = 0;
    bool headerChecked = false;
    // The whole file when the window covers it: the library decodes straight
    // into it (no window of its own, no copies out); else pieces of it.
    bool whole;
    std::unique_ptr<std::uint8_t[]> file;
    std::vector<std::uint8_t> piece;
    std::uint64_t made = 0;
    bool ended = false;
    std::string refusal;
};

TDeltaDecoder::TState::TState(std::span<const std::uint8_t> source, std::uint64_t outputSize, bool patch)
    : source(source), outputSize(outputSize), kind(patch ? "patch" : "compressed file"),
      windowLog(DeltaWindowLog(SaturatingSum(source.size(), outputSize), ZSTD_WINDOWLOG_MAX)),
      whole(outputSize <= (std::uint64_t{1} << windowLog)) {
    const std::uint64_t window = std::uint64_t{1} << windowLog;
    // The window buffer never holds more than the frame makes (its declared
    // size must be outputSize); the prefix is referenced, not copied.
    const std::size_t windowBuffer = ZSTD_decodingBufferSize_min(window, outputSize);
    if (ZSTD_isError(windowBuffer) || outputSize > SIZE_MAX) {
        refusal = "a " + kind + " of " + Number(outputSize) + " bytes is too large for this machine";
        return;
    }
    if (!whole) {
        piece.resize(ZSTD_DStreamOutSize());
    }
    budget.limit = ZSTD_estimateDCtxSize() + std::min<std::uint64_t>(window, ZSTD_BLOCKSIZE_MAX) +
                   (whole ? 0 : windowBuffer) +
                   (patch ? ZSTD_estimateDDictSize(source.size(), ZSTD_dlm_byRef) : 0) + BlockHeadersAllowed;
    bound = budget.limit + (whole ? outputSize : piece.size()) + sizeof header;
    context.reset(ZSTD_createDCtx_advanced({BudgetAlloc, BudgetFree, &budget}));
    if (!context ||
        ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_windowLogMax, windowLog)) ||
        (whole && ZSTD_isError(ZSTD_DCtx_setParameter(context.get(), ZSTD_d_stableOutBuffer, 1))) ||
        (patch && ZSTD_isError(ZSTD_DCtx_refPrefix(context.get(), source.data(), source.size())))) {
        refusal = "no memory to decode the " + kind;
    }
}

std::string TDeltaDecoder::TState::Decode(std::span<const std::uint8_t> input,
                                          const std::function<void(std::span<const std::uint8_t>)>& output) {
    if (input.empty()) {
        return {};
    }
    if (ended) {
        return Trailing();
    }
    if (!headerChecked) {
        if (auto why = TakeHeader(input); !why.empty()) {
            return why;
        }
        if (!headerChecked) {
            return {};
        }
        // Only now, the sizes checked: a refused road costs no memory.
        if (whole) {
            file.reset(new (std::nothrow) std::uint8_t[std::max<std::size_t>(outputSize, 1)]);
            if (!file) {
                return "no memory to decode the " + kind;
            }
        }
        // The header goes to the library too: it was only looked at.
        if (auto why = Inflate({header.data(), headerHeld}, output); !why.empty()) {
            return why;
        }
    }
    return Inflate(input, output);
}

// Gathers the frame header from the front of `input` (which loses those
// bytes) and checks it once it is whole.
std::string TDeltaDecoder::TState::TakeHeader(std::span<const std::uint8_t>& input) {
    for (;;) {
        ZSTD_frameHeader parsed{};
        const std::size_t needed = ZSTD_getFrameHeader(&parsed, header.data(), headerHeld);
        if (ZSTD_isError(needed)) {
            return LibraryRefusal(needed);
        }
        if (needed == 0) {
            headerChecked = true;
            return CheckHeader(parsed);
        }
        if (input.empty()) {
            return {};
        }
        const std::size_t taken = std::min(needed - headerHeld, input.size());
        std::memcpy(header.data() + headerHeld, input.data(), taken);
        headerHeld += taken;
        input = input.subspan(taken);
    }
}

std::string TDeltaDecoder::TState::CheckHeader(const ZSTD_frameHeader& parsed) const {
    if (parsed.frameType != ZSTD_frame) {
        return "the " + kind + " starts with a skippable frame, not with its data";
    }
    if (parsed.dictID != 0) {
        return "the " + kind + " was made with dictionary " + Number(parsed.dictID) + ", not with the installed file";
    }
    if (parsed.frameContentSize == ZSTD_CONTENTSIZE_UNKNOWN) {
        return "the " + kind + " does not say how many bytes it makes";
    }
    if (parsed.frameContentSize > outputSize) {
        return "the " + kind + " would make " + Number(parsed.frameContentSize) + " bytes, more than the signed " +
               Number(outputSize);
    }
    if (parsed.frameContentSize < outputSize) {
        return "the " + kind + " would make " + Number(parsed.frameContentSize) + " bytes, fewer than the signed " +
               Number(outputSize);
    }
    if (parsed.windowSize > (std::uint64_t{1} << windowLog)) {
        return "the " + kind + " asks for a window of " + Number(parsed.windowSize) + " bytes, more than the " +
               Number(std::uint64_t{1} << windowLog) + " its sizes need";
    }
    return {};
}

std::string TDeltaDecoder::TState::Inflate(std::span<const std::uint8_t> input,
                                           const std::function<void(std::span<const std::uint8_t>)>& output) {
    ZSTD_inBuffer in{input.data(), input.size(), 0};
    for (;;) {
        // The whole file is handed to the library at every call, as it asks.
        ZSTD_outBuffer out = whole ? ZSTD_outBuffer{file.get(), static_cast<std::size_t>(outputSize),
                                                    static_cast<std::size_t>(made)}
                                   : ZSTD_outBuffer{piece.data(), piece.size(), 0};
        const std::size_t before = out.pos;
        const std::size_t result = ZSTD_decompressStream(context.get(), &out, &in);
        if (ZSTD_isError(result)) {
            return LibraryRefusal(result);
        }
        const std::size_t fresh = out.pos - before;
        if (fresh > outputSize - made) {
            return "the " + kind + " would make more than the signed " + Number(outputSize) + " bytes";
        }
        made += fresh;
        if (fresh > 0) {
            output({static_cast<const std::uint8_t*>(out.dst) + before, fresh});
        }
        if (result == 0) {
            ended = true;
            return in.pos < in.size ? Trailing() : std::string();
        }
        // A full piece may leave decoded bytes inside the library; a full
        // file waits for the frame's last bytes.
        if (in.pos == in.size && (out.pos < out.size || fresh == 0)) {
            return {};
        }
    }
}

std::string TDeltaDecoder::TState::LibraryRefusal(std::size_t code) const {
    switch (ZSTD_getErrorCode(code)) {
    case ZSTD_error_prefix_unknown:
        return "the " + kind + " is not a zstd frame";
    case ZSTD_error_frameParameter_unsupported:
        return "the " + kind + " uses a frame feature this decoder does not know";
    case ZSTD_error_frameParameter_windowTooLarge:
        return "the " + kind + " asks for a window larger than its sizes need";
    case ZSTD_error_dictionary_wrong:
        return "the " + kind + " was made with a dictionary, not with the installed file";
    case ZSTD_error_checksum_wrong:
        return "the " + kind + " makes bytes that do not match its own checksum";
    case ZSTD_error_dstSize_tooSmall:
        return "the " + kind + " makes more bytes than it says";
    case ZSTD_error_memory_allocation:
        return "the " + kind + " needs more memory than its sizes allow";
    case ZSTD_error_corruption_detected:
        return source.empty() ? "the " + kind + " is corrupt"
                              : "the " + kind + " is corrupt or was made from another file";
    default:
        return "the " + kind + " cannot be decoded (zstd error " + Number(ZSTD_getErrorCode(code)) + ")";
    }
}

std::string TDeltaDecoder::TState::Ending() const {
    if (!ended) {
        return "the " + kind + " ends before its frame does (" + Number(made) + " of " + Number(outputSize) +
               " bytes made)";
    }
    if (made != outputSize) {
        return "the " + kind + " made " + Number(made) + " bytes, not the signed " + Number(outputSize);
    }
    return {};
}

// Feed and Finish throw nothing: an `output` that throws, or no memory for a
// reason, becomes the refusal.
template <class Step>
void TDeltaDecoder::TState::Guarded(Step step) noexcept {
    try {
        try {
            step();
        } catch (const std::exception& error) {
            refusal = "the decoded bytes of the " + kind + " could not be taken: " + error.what();
        } catch (...) {
            refusal = "the decoded bytes of the " + kind + " could not be taken";
        }
    } catch (...) {
        refusal = "no memory";
    }
}

TDeltaDecoder::TDeltaDecoder(std::unique_ptr<TState> state) : state_(std::move(state)) {}
TDeltaDecoder::TDeltaDecoder(TDeltaDecoder&&) noexcept = default;
TDeltaDecoder& TDeltaDecoder::operator=(TDeltaDecoder&&) noexcept = default;
TDeltaDecoder::~TDeltaDecoder() = default;

TDeltaDecoder TDeltaDecoder::Inflate(std::uint64_t outputSize) {
    return TDeltaDecoder(std::make_unique<TState>(std::span<const std::uint8_t>(), outputSize, /*patch=*/false));
}

TDeltaDecoder TDeltaDecoder::Patch(std::span<const std::uint8_t> source, std::uint64_t outputSize) {
    return TDeltaDecoder(std::make_unique<TState>(source, outputSize, /*patch=*/true));
}

std::string TDeltaDecoder::Feed(std::span<const std::uint8_t> input,
                                const std::function<void(std::span<const std::uint8_t>)>& output) {
    auto& state = *state_;
    if (state.refusal.empty()) {
        state.Guarded([&] { state.refusal = state.Decode(input, output); });
    }
    return state.refusal;
}

std::string TDeltaDecoder::Finish() {
    auto& state = *state_;
    if (state.refusal.empty()) {
        state.Guarded([&] { state.refusal = state.Ending(); });
    }
    return state.refusal;
}

std::uint64_t TDeltaDecoder::MemoryBound() const {
    return state_->bound;
}
