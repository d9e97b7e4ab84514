#include "core/Sha256.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

namespace {

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char byte : bytes) {
        hex += digits[byte >> 4];
        hex += digits[byte & 15];
    }
    return hex;
}

std::string Digest(const std::string& message, TSha256::TEngine engine, std::size_t piece)
{
    TSha256 hash(engine);
    for (std::size_t at = 0; at < message.size(); at += piece)
        hash.Update(message.data() + at, std::min(piece, message.size() - at));
    return Hex(hash.Finish());
}

TEST(Sha256, PublishedVectorsComeOutOfBothEnginesWhateverTheSplit)
{
    const struct {
        std::string message;
        const char* digest;
    } vectors[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrst"
         "nopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& vector : vectors) {
        for (const std::size_t piece : {std::size_t{1}, std::size_t{63}, std::size_t{64}, std::size_t{1} << 20}) {
            EXPECT_EQ(Digest(vector.message, TSha256::TEngine::Best, piece), vector.digest) << piece;
            EXPECT_EQ(Digest(vector.message, TSha256::TEngine::Portable, piece), vector.digest) << piece;
        }
    }
    EXPECT_EQ(Hex(Sha256Of("abc")), vectors[1].digest);
    // A second Finish, and anything after the first, give the same digest.
    TSha256 twice;
    twice.Update("abc", 3);
    const std::string first = twice.Finish();
    twice.Update("more", 4);
    EXPECT_EQ(twice.Finish(), first);
    EXPECT_EQ(Hex(first), vectors[1].digest);
}

TEST(Sha256, ProcessorAndPortableEnginesAgreeOnEveryLengthAroundTheBlocks)
{
    std::mt19937 random(7);
    std::string message(3 * 64 + 1, '\0');
    for (char& byte : message)
        byte = static_cast<char>(random());
    for (std::size_t length = 0; length <= message.size(); ++length) {
        const std::string part = message.substr(0, length);
        const std::size_t piece = 1 + random() % 70;
        EXPECT_EQ(Digest(part, TSha256::TEngine::Best, piece), Digest(part, TSha256::TEngine::Portable, length + 1))
            << length;
    }
}

}  // namespace
