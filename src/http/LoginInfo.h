#pragma once
// The stored form of the HTTP user name and password (`LInfo`): one byte L,
// then L bytes, each XOR-ed with (L xor 0xA7): the user name's length, the
// user name, the password. L = both lengths + 1, so the two texts together
// hold at most 254 characters. Platform-free: no <windows.h> here.

#include <optional>
#include <string>
#include <string_view>

struct LoginInfo {
    std::string username;
    std::string password;
};

// nullopt when the two texts are too long for the one-byte length.
std::optional<std::string> EncodeLoginInfo(std::string_view username, std::string_view password);

// nullopt for a block that is empty, shorter or longer than its stored
// length says, or whose user name length exceeds the record.
std::optional<LoginInfo> DecodeLoginInfo(std::string_view block);
