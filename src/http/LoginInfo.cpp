#include "LoginInfo.h"

namespace {

constexpr unsigned char KeyBase = 0xA7;
constexpr std::size_t MaxRecord = 255;

unsigned char Byte(char c)
{
    return static_cast<unsigned char>(c);
}

}  // namespace

std::optional<std::string> EncodeLoginInfo(std::string_view username, std::string_view password)
{
    const std::size_t length = username.size() + password.size() + 1;
    if (length > MaxRecord)
        return std::nullopt;
    std::string record(1, static_cast<char>(username.size()));
    record += username;
    record += password;

    const unsigned char key = static_cast<unsigned char>(length ^ KeyBase);
    std::string block(1, static_cast<char>(length));
    for (char c : record)
        block += static_cast<char>(Byte(c) ^ key);
    return block;
}

std::optional<LoginInfo> DecodeLoginInfo(std::string_view block)
{
    if (block.empty())
        return std::nullopt;
    const std::size_t length = Byte(block.front());
    if (length == 0 || block.size() - 1 != length)
        return std::nullopt;

    const unsigned char key = static_cast<unsigned char>(length ^ KeyBase);
    std::string record;
    record.reserve(length);
    for (char c : block.substr(1))
        record += static_cast<char>(Byte(c) ^ key);

    const std::size_t userLength = Byte(record.front());
    if (userLength > length - 1)
        return std::nullopt;
    return LoginInfo{record.substr(1, userLength), record.substr(1 + userLength)};
}
