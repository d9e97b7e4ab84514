#pragma once
// An open registry key. Paths may be written with a leading backslash (as the
// startup locations are); it is stripped, since the registry API rejects it.
// Failures are returned as the registry's own error code, never thrown.
// Value buffers are sized from what the registry reports, and string data that
// lacks its terminating zero is read correctly.
//
// Names, paths and text are UTF-8; the registry is called through its wide
// ("W") functions, so string values hold the same REG_SZ / REG_EXPAND_SZ data
// the system's own tools write. A name that is no valid UTF-16 (an unpaired
// surrogate) is listed in the generalised UTF-8 form (core/Utf8.h) and names
// the same value or key again when handed back.

#include "winutil/UniqueHandle.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

std::string RegistryPath(std::string_view path);

class RegKey {
public:
    struct Value {
        std::string name;
        DWORD type = REG_NONE;
        std::string data;  // raw bytes as stored: UTF-16 LE for the string types
    };

    RegKey() = default;
    static RegKey Open(HKEY root, std::string_view path, REGSAM access, LONG* error = nullptr);
    static RegKey Create(HKEY root, std::string_view path, REGSAM access, LONG* error = nullptr);
    // Opens the key, or makes it: one call either way. `created` tells
    // whether this call made it.
    static RegKey Create(HKEY root, std::string_view path, REGSAM access, bool& created);
    // A key that is never saved: it ends with the session (the hive's last
    // unload). Its parent must exist.
    static RegKey CreateVolatile(HKEY root, std::string_view path, REGSAM access, bool& created,
                                 LONG* error = nullptr);
    // `view`: KEY_WOW64_64KEY or KEY_WOW64_32KEY, or 0 for the process's own.
    [[nodiscard]] static LONG DeleteTree(HKEY root, std::string_view path, REGSAM view = 0);
    // Deletes a key that has no subkeys.
    [[nodiscard]] static LONG DeleteKey(HKEY root, std::string_view path, REGSAM view = 0);
    static bool Exists(HKEY root, std::string_view path);

    explicit operator bool() const { return static_cast<bool>(key_); }
    HKEY get() const { return key_.get(); }

    [[nodiscard]] LONG Query(std::string_view name, Value& value) const;
    // REG_SZ or REG_EXPAND_SZ text up to its first zero; nothing for other types.
    std::optional<std::string> ReadString(std::string_view name) const;
    std::optional<DWORD> ReadDword(std::string_view name) const;
    bool HasValue(std::string_view name) const;

    // REG_MULTI_SZ text holds its strings separated by zero characters.
    [[nodiscard]] LONG WriteString(std::string_view name, std::string_view text, DWORD type = REG_SZ) const;
    [[nodiscard]] LONG WriteDword(std::string_view name, DWORD data) const;
    [[nodiscard]] LONG WriteBinary(std::string_view name, std::string_view bytes) const;
    [[nodiscard]] LONG DeleteValue(std::string_view name) const;

    [[nodiscard]] LONG SubKeyNames(std::vector<std::string>& names) const;
    [[nodiscard]] LONG Values(std::vector<Value>& values) const;
    // Last-write time of the key; zero when it cannot be read.
    FILETIME LastWriteTime() const;

private:
    explicit RegKey(HKEY key) : key_(key) {}
    static RegKey Make(HKEY root, std::string_view path, REGSAM access, DWORD options, bool* created,
                       LONG* error);

    UniqueRegKey key_;
};

// Text of a string value's raw data (UTF-16 LE): up to the first zero
// character, whether or not one was stored; an odd last byte is no character
// and is left out.
std::string RegStringData(std::string_view raw);
