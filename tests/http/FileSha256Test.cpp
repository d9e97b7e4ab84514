#include "http/FileSha256.h"

#include "winutil/CngProvider.h"
#include "winutil/UniqueHandle.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>
#include <string>

namespace {

std::string SystemSha256(const std::string& message)
{
    BCRYPT_HASH_HANDLE hash = nullptr;
    std::string digest(TauSha256::DigestSize, '\0');
    const bool done =
        BCRYPT_SUCCESS(BCryptCreateHash(Sha256Provider(), &hash, nullptr, 0, nullptr, 0, 0)) &&
        BCRYPT_SUCCESS(BCryptHashData(hash, reinterpret_cast<UCHAR*>(const_cast<char*>(message.data())),
                                      static_cast<ULONG>(message.size()), 0)) &&
        BCRYPT_SUCCESS(BCryptFinishHash(hash, reinterpret_cast<UCHAR*>(digest.data()), TauSha256::DigestSize, 0));
    if (hash)
        BCryptDestroyHash(hash);
    return done ? digest : std::string();
}

TEST(FileSha256, MatchesTheSystemsHashOnRandomMessagesOfManyLengthsAndAnOpenFile)
{
    std::mt19937 random(11);
    std::string message(300000, '\0');
    for (char& byte : message)
        byte = static_cast<char>(random());
    std::vector<std::size_t> lengths;
    for (std::size_t length = 0; length < 200; ++length)
        lengths.push_back(length);
    for (int n = 0; n < 40; ++n)
        lengths.push_back(random() % message.size());
    for (const std::size_t length : lengths) {
        const std::string part = message.substr(0, length);
        const std::string expected = SystemSha256(part);
        ASSERT_EQ(expected.size(), TauSha256::DigestSize);
        EXPECT_EQ(Sha256Of(part), expected) << length;
    }

    wchar_t folder[MAX_PATH + 1];
    ASSERT_NE(GetTempPathW(MAX_PATH + 1, folder), 0u);
    const std::wstring path = std::wstring(folder) + L"auSha256Test-" + std::to_wstring(GetCurrentProcessId());
    const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    ASSERT_TRUE(file);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file.get(), message.data(), static_cast<DWORD>(message.size()), &written, nullptr));
    ASSERT_NE(SetFilePointer(file.get(), 1000, nullptr, FILE_BEGIN), INVALID_SET_FILE_POINTER);
    EXPECT_EQ(Sha256OfFile(file.get()), SystemSha256(message.substr(1000)));
}

}  // namespace
