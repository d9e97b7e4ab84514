#include "update/stub/StubFiles.h"

#include "core/Utf8.h"
#include "update/stub/StubRecords.h"
#include "winutil/CngProvider.h"

#include <type_traits>

PathText& PathText::Append(std::string_view text)
{
    if (overflow_ || text.size() > Capacity - length_) {
        overflow_ = true;
        return *this;
    }
    for (char c : text)
        text_[length_++] = c;
    text_[length_] = '\0';
    return *this;
}

WideText::WideText(std::string_view utf8)
{
    std::size_t length = 0;
    for (std::size_t at = 0; at < utf8.size();) {
        const Utf8Char c = DecodeUtf8At(utf8, at);
        at += c.length;
        char16_t units[2];
        const std::size_t count = EncodeUtf16(c.code, units);
        if (length + count > MAX_PATH) {
            text_[0] = L'\0';
            return;
        }
        for (std::size_t i = 0; i < count; ++i)
            text_[length++] = static_cast<wchar_t>(units[i]);
    }
    text_[length] = L'\0';
}

namespace {

template <typename Sink>
bool AppendUtf8Units(Sink& sink, const wchar_t* text)
{
    std::size_t length = 0;
    while (text[length])
        ++length;
    const std::u16string_view units(reinterpret_cast<const char16_t*>(text), length);
    bool ok = true;
    for (std::size_t at = 0; at < units.size();) {
        char bytes[4];
        const std::string_view character(bytes, EncodeUtf8(DecodeUtf16At(units, at), bytes));
        if constexpr (std::is_same_v<Sink, HeapText>)
            ok = ok && sink.Append(character);
        else
            sink.Append(character);
    }
    return ok;
}

bool WriteNew(std::string_view path, std::string_view text)
{
    const UniqueFile file(CreateFileW(WideText(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    DWORD written = 0;
    return file && WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size() && FlushFileBuffers(file.get());
}

}  // namespace

void AppendUtf8Of(PathText& sink, const wchar_t* text)
{
    AppendUtf8Units(sink, text);
}

bool AppendUtf8Of(HeapText& sink, const wchar_t* text)
{
    return AppendUtf8Units(sink, text);
}

PathText Utf8Of(const wchar_t* text)
{
    PathText path;
    AppendUtf8Of(path, text);
    return path;
}

PathText InFolder(std::string_view folder, std::string_view name, std::string_view suffix)
{
    PathText path(folder);
    path.Append(name).Append(suffix);
    return path;
}

DWORD AttributesOf(std::string_view path)
{
    return GetFileAttributesW(WideText(path).c_str());
}

bool IsFile(std::string_view path)
{
    const DWORD attributes = AttributesOf(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DeleteAnyFile(std::string_view path)
{
    const WideText wide(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    SetFileAttributesW(wide.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (DeleteFileW(wide.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND)
        return true;
    // A file in use keeps its marks for the next try.
    if (attributes != INVALID_FILE_ATTRIBUTES)
        SetFileAttributesW(wide.c_str(), attributes);
    return false;
}

bool MoveWrittenThrough(std::string_view from, std::string_view to, bool replace)
{
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return MoveFileExW(WideText(from).c_str(), WideText(to).c_str(), flags) != FALSE;
}

bool Sha256Of(HANDLE file, unsigned char (&digest)[32])
{
    const BCRYPT_ALG_HANDLE algorithm = Sha256Provider();
    if (!algorithm)
        return false;
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0) != 0)
        return false;
    // On the stack: a static block would be linked into the image's data.
    unsigned char block[32 * 1024];
    bool ok = true;
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, block, sizeof block, &read, nullptr)) {
            ok = false;
            break;
        }
        if (read == 0)
            break;
        if (BCryptHashData(hash, block, read, 0) != 0) {
            ok = false;
            break;
        }
    }
    ok = ok && BCryptFinishHash(hash, digest, sizeof digest, 0) == 0;
    BCryptDestroyHash(hash);
    return ok;
}

bool FileMatches(std::string_view path, std::string_view sha256)
{
    // Read past any writer: a file that cannot be opened at all counts as not matching.
    const UniqueFile file(CreateFileW(WideText(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    unsigned char digest[32];
    return file && Sha256Of(file.get(), digest) && DigestMatches(sha256, digest);
}

PathText Environment(const wchar_t* name)
{
    wchar_t value[MAX_PATH + 1];
    const DWORD length = GetEnvironmentVariableW(name, value, MAX_PATH + 1);
    return length == 0 || length > MAX_PATH ? PathText() : Utf8Of(value);
}

HeapText::~HeapText()
{
    if (data_)
        HeapFree(GetProcessHeap(), 0, data_);
}

bool HeapText::Append(std::string_view text)
{
    if (text.size() > capacity_ - size_) {
        std::size_t capacity = capacity_ ? capacity_ : 4096;
        while (capacity - size_ < text.size())
            capacity *= 2;
        void* grown = data_ ? HeapReAlloc(GetProcessHeap(), 0, data_, capacity) : HeapAlloc(GetProcessHeap(), 0, capacity);
        if (!grown)
            return false;
        data_ = static_cast<char*>(grown);
        capacity_ = capacity;
    }
    for (char c : text)
        data_[size_++] = c;
    return true;
}

bool ReadAll(HANDLE file, std::size_t maxBytes, HeapText& text)
{
    char block[8192];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file, block, sizeof block, &read, nullptr))
            return false;
        if (read == 0)
            return true;
        if (text.View().size() + read > maxBytes || !text.Append(std::string_view(block, read)))
            return false;
    }
}

bool ReadSmallFile(std::string_view path, std::size_t maxBytes, HeapText& text)
{
    const UniqueFile file(CreateFileW(WideText(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    return file && ReadAll(file.get(), maxBytes, text);
}

bool WriteFlushed(std::string_view path, std::string_view text)
{
    PathText fresh(path);
    fresh.Append(FreshSuffix);
    DeleteAnyFile(fresh.View());
    if (WriteNew(fresh.View(), text) && MoveWrittenThrough(fresh.View(), path, /*replace=*/true))
        return true;
    DeleteAnyFile(fresh.View());
    return false;
}
