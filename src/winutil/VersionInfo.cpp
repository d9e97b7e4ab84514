#include "VersionInfo.h"

#include "winutil/WideText.h"

#include <cstring>
#include <vector>

std::optional<VS_FIXEDFILEINFO> ReadFixedVersion(const std::string& file)
{
    const std::wstring path = WideFromUtf8(file);
    DWORD handle = 0;
    const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0)
        return std::nullopt;
    std::vector<char> block(size);
    if (!GetFileVersionInfoW(path.c_str(), 0, size, block.data()))
        return std::nullopt;
    void* fixed = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(block.data(), L"\\", &fixed, &length) || length < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    VS_FIXEDFILEINFO info;
    memcpy(&info, fixed, sizeof info);
    if (info.dwSignature != 0xFEEF04BD)
        return std::nullopt;
    return info;
}
