#pragma once
// SHA-256, incremental, on the processor's own instructions when it has them
// (the system's hash is far slower under some hosts), else in portable code.
// Platform-free; one object per thread at a time; throws nothing.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class TSha256 {
public:
    static constexpr std::size_t DigestSize = 32;
    // Portable forces the portable code, for comparing the two.
    enum class TEngine { Best, Portable };

    explicit TSha256(TEngine engine = TEngine::Best);

    // After Finish, changes nothing: the digest is of what came before.
    void Update(const void* data, std::size_t size);
    // The 32 bytes of the digest; every later call returns them again.
    std::string Finish();

    // Whether Best runs on the processor's instructions.
    static bool HasProcessorInstructions();

private:
    void Compress(const std::uint8_t* blocks, std::size_t count);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t held_ = 0;
    std::uint64_t length_ = 0;
    bool processor_;
    bool finished_ = false;
};

std::string Sha256Of(std::string_view data);
