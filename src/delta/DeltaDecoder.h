#pragma once
// Turns one download road of a release file into the file's bytes while they
// arrive: a compressed form (one zstd frame of the whole file) or a one-hop
// patch (one zstd frame made with the installed file as its prefix). The
// bytes come from the network: a road is refused, with the reason, as soon as
// it asks for more memory than its sizes need, would make more bytes than
// signed, or is not exactly one whole frame. Never more than the signed size
// is handed out. Platform-free: no <windows.h> here. Feed and Finish throw
// nothing (a throwing `output` becomes the refusal); one thread at a time.
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

class TDeltaDecoder {
public:
    // A compressed form of a file of exactly `outputSize` bytes.
    static TDeltaDecoder Inflate(std::uint64_t outputSize);
    // A one-hop patch from `source` (the installed file's bytes, which must
    // outlive the decoder) to a file of exactly `outputSize` bytes.
    static TDeltaDecoder Patch(std::span<const std::uint8_t> source, std::uint64_t outputSize);

    TDeltaDecoder(TDeltaDecoder&&) noexcept;
    TDeltaDecoder& operator=(TDeltaDecoder&&) noexcept;
    ~TDeltaDecoder();

    // Decodes `input` (any split of the road's bytes), handing each decoded
    // piece to `output` in order. Returns an empty string, or why the road is
    // refused (e.g. "the patch would make more than the signed 1234 bytes");
    // once refused, every later call returns the same reason.
    std::string Feed(std::span<const std::uint8_t> input,
                     const std::function<void(std::span<const std::uint8_t>)>& output);
    // After the last byte: refused unless one whole frame ended with exactly
    // outputSize bytes and nothing follows it.
    std::string Finish();
    // Bytes this decoder may hold at most (its window and buffers; not the
    // source, which the caller owns), known before decoding starts.
    std::uint64_t MemoryBound() const;

private:
    struct TState;
    explicit TDeltaDecoder(std::unique_ptr<TState> state);
    std::unique_ptr<TState> state_;
};
