#include "winutil/WholeFile.h"

#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE;

UniqueFile OpenShared(const std::string& path, DWORD access, DWORD disposition)
{
    return UniqueFile(CreateFileW(WideFromUtf8(path).c_str(), access, kShareAll, nullptr, disposition,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WriteAll(HANDLE file, std::string_view text)
{
    DWORD written = 0;
    return WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

}  // namespace

std::optional<std::string> ReadWholeFile(HANDLE file, std::size_t maxSize)
{
    LARGE_INTEGER size = {};
    if (!GetFileSizeEx(file, &size) || static_cast<ULONGLONG>(size.QuadPart) > maxSize ||
        size.QuadPart > MAXDWORD)
        return std::nullopt;
    std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
    DWORD read = 0;
    if (!text.empty() && !ReadFile(file, text.data(), static_cast<DWORD>(text.size()), &read, nullptr))
        return std::nullopt;
    text.resize(read);
    return text;
}

std::optional<std::string> ReadWholeFile(const std::string& path, std::size_t maxSize)
{
    const UniqueFile file = OpenShared(path, GENERIC_READ, OPEN_EXISTING);
    if (!file)
        return std::nullopt;
    return ReadWholeFile(file.get(), maxSize);
}

bool WriteWholeFile(const std::string& path, std::string_view text)
{
    const UniqueFile file = OpenShared(path, GENERIC_WRITE, CREATE_ALWAYS);
    return file && WriteAll(file.get(), text);
}

bool WriteWholeFile(HANDLE file, std::string_view text)
{
    const LARGE_INTEGER start = {};
    return SetFilePointerEx(file, start, nullptr, FILE_BEGIN) && WriteAll(file, text) && SetEndOfFile(file);
}

bool AppendToFile(const std::string& path, std::string_view text)
{
    const UniqueFile file = OpenShared(path, FILE_APPEND_DATA, OPEN_ALWAYS);
    return file && WriteAll(file.get(), text);
}
