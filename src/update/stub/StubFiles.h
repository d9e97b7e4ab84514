#pragma once
// File work of the stub, shared with freshet.exe's start (the recovery of an
// interrupted install): UTF-8 paths in fixed buffers, turned into UTF-16 at
// each call of a "W" function. Built without exceptions and without
// heap-owning standard containers, so the stub stays small.
#include "winutil/UniqueHandle.h"

#include <windows.h>

#include <cstddef>
#include <new>
#include <string_view>

// A UTF-8 path in a fixed buffer. Text that does not fit makes the whole path
// empty, so a cut path can never name some other file: every call on it fails.
class PathText {
public:
    static constexpr std::size_t Capacity = 3 * MAX_PATH;

    PathText() = default;
    explicit PathText(std::string_view text) { Append(text); }

    PathText& Append(std::string_view text);
    std::string_view View() const { return overflow_ ? std::string_view() : std::string_view(text_, length_); }

private:
    char text_[Capacity + 1] = {};
    std::size_t length_ = 0;
    bool overflow_ = false;
};

// The UTF-16 form of a UTF-8 text for a "W" call; empty when it does not fit.
class WideText {
public:
    explicit WideText(std::string_view utf8);
    const wchar_t* c_str() const { return text_; }

private:
    wchar_t text_[MAX_PATH + 1] = {};
};

// UTF-8 of a zero-terminated UTF-16 text (a found name, a path).
PathText Utf8Of(const wchar_t* text);

// A folder (with its trailing separator) followed by a name.
PathText InFolder(std::string_view folder, std::string_view name, std::string_view suffix = {});

DWORD AttributesOf(std::string_view path);
bool IsFile(std::string_view path);
// Clears the read-only mark first; true when the file is gone. A file that
// stays (in use) keeps its marks.
bool DeleteAnyFile(std::string_view path);
// A rename that reaches the disk before it returns.
bool MoveWrittenThrough(std::string_view from, std::string_view to, bool replace);

// The SHA-256 of what is left to read of an open file.
bool Sha256Of(HANDLE file, unsigned char (&digest)[32]);
// Whether a file exists and holds the bytes of this digest (64 hexadecimal digits).
bool FileMatches(std::string_view path, std::string_view sha256);

// A value of the environment (the stub's test settings); empty when unset.
PathText Environment(const wchar_t* name);

// Bytes on the process heap, grown as needed: the stub links no operator new.
class HeapText {
public:
    HeapText() = default;
    ~HeapText();
    HeapText(const HeapText&) = delete;
    HeapText& operator=(const HeapText&) = delete;

    bool Append(std::string_view text);
    std::string_view View() const { return std::string_view(data_, size_); }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
};

// Reads a whole file of at most maxBytes through an open handle.
bool ReadAll(HANDLE file, std::size_t maxBytes, HeapText& text);
// Reads a whole small file; false when it is missing, unreadable or larger.
bool ReadSmallFile(std::string_view path, std::size_t maxBytes, HeapText& text);
// Writes a file anew: flushed under the name with FreshSuffix added, then
// renamed over the file, so a cut write never leaves half of one and a link
// planted under its name is replaced, never written through.
bool WriteFlushed(std::string_view path, std::string_view text);

// Appends the UTF-8 of a zero-terminated UTF-16 text.
void AppendUtf8Of(PathText& sink, const wchar_t* text);
bool AppendUtf8Of(HeapText& sink, const wchar_t* text);

// A growing array on the process heap of trivially copyable items.
template <typename T>
class HeapArray {
public:
    HeapArray() = default;
    ~HeapArray()
    {
        if (items_)
            HeapFree(GetProcessHeap(), 0, items_);
    }
    HeapArray(const HeapArray&) = delete;
    HeapArray& operator=(const HeapArray&) = delete;

    T* Add()
    {
        if (count_ == capacity_ && !Grow())
            return nullptr;
        return new (&items_[count_++]) T();
    }
    std::size_t Count() const { return count_; }
    T& operator[](std::size_t i) { return items_[i]; }
    const T& operator[](std::size_t i) const { return items_[i]; }

private:
    bool Grow()
    {
        const std::size_t capacity = capacity_ ? capacity_ * 2 : 64;
        const SIZE_T bytes = capacity * sizeof(T);
        void* grown = items_ ? HeapReAlloc(GetProcessHeap(), 0, items_, bytes) : HeapAlloc(GetProcessHeap(), 0, bytes);
        if (!grown)
            return false;
        items_ = static_cast<T*>(grown);
        capacity_ = capacity;
        return true;
    }

    T* items_ = nullptr;
    std::size_t count_ = 0;
    std::size_t capacity_ = 0;
};

// Visits the files (not folders) of a folder that match a pattern such as
// "*.uTMP", by their UTF-8 names. The visitor returns false to stop.
template <typename Visit>
void ForEachFile(std::string_view folder, std::string_view pattern, Visit visit)
{
    WIN32_FIND_DATAW found;
    const UniqueFind search(FindFirstFileW(WideText(InFolder(folder, pattern).View()).c_str(), &found));
    if (!search)
        return;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !visit(Utf8Of(found.cFileName).View()))
            return;
    } while (FindNextFileW(search.get(), &found));
}
