#include "VersionInfo.h"

#include <cstring>
#include <vector>

std::optional<VS_FIXEDFILEINFO> ReadFixedVersion(const std::string& file)
{
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeA(file.c_str(), &handle);
    if (size == 0)
        return std::nullopt;
    std::vector<char> block(size);
    if (!GetFileVersionInfoA(file.c_str(), 0, size, block.data()))
        return std::nullopt;
    void* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), "\\", &fixed, &length) || length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    VS_FIXEDFILEINFO info;
    memcpy(&info, fixed, sizeof info);
    if (info.dwSignature != 0xFEEF04BD)
        return std::nullopt;
    return info;
}
