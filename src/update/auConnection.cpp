// Sockets first: the sockets header must come before <windows.h>.
#include <winsock2.h>

#include "auConnection.h"

#include "winutil/RegKey.h"

#include <cstring>

namespace {

// The last address the host name resolves to, in dotted form.
std::string LastHostAddress()
{
    WSADATA data{};
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return {};
    std::string address;
    char name[65] = {};
    if (gethostname(name, sizeof name - 1) == 0) {
        if (const hostent* host = gethostbyname(name); host && host->h_addrtype == AF_INET) {
            char** entry = host->h_addr_list;
            while (entry && *entry && entry[1])
                ++entry;
            if (entry && *entry) {
                in_addr last{};
                std::memcpy(&last, *entry, sizeof last);
                address = inet_ntoa(last);
            }
        }
    }
    WSACleanup();
    return address;
}

}  // namespace

bool IsConnectedToNet()
{
    const RegKey key = RegKey::Open(HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\Services\\RemoteAccess", KEY_READ);
    if (key) {
        if (const auto flag = key.ReadDword("Remote Connection"))
            return *flag == 1;
    }
    const std::string address = LastHostAddress();
    return !address.empty() && address != "127.0.0.1";
}
