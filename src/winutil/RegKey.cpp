#include "RegKey.h"

#include "winutil/RuntimeLink.h"
#include "winutil/WideText.h"

#include <cstring>

std::string RegistryPath(std::string_view path)
{
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    return std::string(path);
}

std::string RegStringData(std::string_view raw)
{
    std::wstring text(raw.size() / 2, L'\0');
    memcpy(text.data(), raw.data(), text.size() * sizeof(wchar_t));
    return Utf8FromWide(std::wstring_view(text.c_str()));
}

namespace {

std::wstring WidePath(std::string_view path)
{
    return WideFromUtf8(RegistryPath(path));
}

} // namespace

RegKey RegKey::Open(HKEY root, std::string_view path, REGSAM access, LONG* error)
{
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExW(root, WidePath(path).c_str(), 0, access, &key);
    if (error)
        *error = rc;
    return rc == ERROR_SUCCESS ? RegKey(key) : RegKey();
}

RegKey RegKey::Make(HKEY root, std::string_view path, REGSAM access, DWORD options, bool* created, LONG* error)
{
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG rc = RegCreateKeyExW(root, WidePath(path).c_str(), 0, nullptr, options, access, nullptr, &key,
                                    &disposition);
    if (error)
        *error = rc;
    if (created)
        *created = rc == ERROR_SUCCESS && disposition == REG_CREATED_NEW_KEY;
    return rc == ERROR_SUCCESS ? RegKey(key) : RegKey();
}

RegKey RegKey::Create(HKEY root, std::string_view path, REGSAM access, LONG* error)
{
    return Make(root, path, access, REG_OPTION_NON_VOLATILE, nullptr, error);
}

RegKey RegKey::Create(HKEY root, std::string_view path, REGSAM access, bool& created)
{
    return Make(root, path, access, REG_OPTION_NON_VOLATILE, &created, nullptr);
}

RegKey RegKey::CreateVolatile(HKEY root, std::string_view path, REGSAM access, bool& created, LONG* error)
{
    return Make(root, path, access, REG_OPTION_VOLATILE, &created, error);
}

bool RegKey::Exists(HKEY root, std::string_view path)
{
    return static_cast<bool>(Open(root, path, KEY_READ));
}

LONG RegKey::DeleteTree(HKEY root, std::string_view path, REGSAM view)
{
    const std::string full = RegistryPath(path);
    if (full.empty())
        return ERROR_INVALID_PARAMETER;
    LONG rc = ERROR_SUCCESS;
    RegKey key = Open(root, full, KEY_READ | KEY_WRITE | view, &rc);
    if (!key)
        return rc;
    std::vector<std::string> children;
    if ((rc = key.SubKeyNames(children)) != ERROR_SUCCESS)
        return rc;
    for (const std::string& child : children) {
        if ((rc = DeleteTree(root, full + "\\" + child, view)) != ERROR_SUCCESS)
            return rc;
    }
    key = RegKey();
    return DeleteKey(root, full, view);
}

LONG RegKey::DeleteKey(HKEY root, std::string_view path, REGSAM view)
{
    const std::wstring full = WidePath(path);
    if (full.empty())
        return ERROR_INVALID_PARAMETER;
    if (view == 0)
        return RegDeleteKeyW(root, full.c_str());
    // Only systems that have registry views have the call that names one.
    using RegDeleteKeyExWFn = LONG WINAPI(HKEY, LPCWSTR, REGSAM, DWORD);
    try {
        static const auto deleteKeyEx = BindFunctionAs<RegDeleteKeyExWFn>("advapi32.dll", "RegDeleteKeyExW");
        return deleteKeyEx(root, full.c_str(), view, 0);
    } catch (const std::runtime_error&) {
        return RegDeleteKeyW(root, full.c_str());
    }
}

LONG RegKey::Query(std::string_view name, Value& value) const
{
    const std::wstring n = WideFromUtf8(name);
    DWORD size = 0;
    LONG rc = RegQueryValueExW(get(), n.c_str(), nullptr, &value.type, nullptr, &size);
    // The value may grow between the two calls; ask again until it fits.
    while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        value.data.assign(size, '\0');
        DWORD got = size;
        rc = RegQueryValueExW(get(), n.c_str(), nullptr, &value.type, reinterpret_cast<BYTE*>(value.data.data()),
                              &got);
        if (rc == ERROR_SUCCESS) {
            value.data.resize(got);
            value.name = std::string(name);
            return rc;
        }
        size = got > size ? got : size * 2 + 16;
    }
    return rc;
}

std::optional<std::string> RegKey::ReadString(std::string_view name) const
{
    Value v;
    if (Query(name, v) != ERROR_SUCCESS || (v.type != REG_SZ && v.type != REG_EXPAND_SZ))
        return std::nullopt;
    return RegStringData(v.data);
}

std::optional<DWORD> RegKey::ReadDword(std::string_view name) const
{
    Value v;
    if (Query(name, v) != ERROR_SUCCESS || v.type != REG_DWORD || v.data.size() != sizeof(DWORD))
        return std::nullopt;
    DWORD data = 0;
    memcpy(&data, v.data.data(), sizeof data);
    return data;
}

bool RegKey::HasValue(std::string_view name) const
{
    return RegQueryValueExW(get(), WideFromUtf8(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

LONG RegKey::WriteString(std::string_view name, std::string_view text, DWORD type) const
{
    const std::wstring data = WideFromUtf8(text);
    return RegSetValueExW(get(), WideFromUtf8(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

LONG RegKey::WriteDword(std::string_view name, DWORD data) const
{
    return RegSetValueExW(get(), WideFromUtf8(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data);
}

LONG RegKey::WriteBinary(std::string_view name, std::string_view bytes) const
{
    return RegSetValueExW(get(), WideFromUtf8(name).c_str(), 0, REG_BINARY, reinterpret_cast<const BYTE*>(bytes.data()),
                          static_cast<DWORD>(bytes.size()));
}

LONG RegKey::DeleteValue(std::string_view name) const
{
    return RegDeleteValueW(get(), WideFromUtf8(name).c_str());
}

LONG RegKey::SubKeyNames(std::vector<std::string>& names) const
{
    DWORD count = 0, maxLength = 0;
    LONG rc = RegQueryInfoKeyW(get(), nullptr, nullptr, nullptr, &count, &maxLength, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    names.clear();
    std::wstring buffer(maxLength + 1, L'\0');
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(buffer.size());
        rc = RegEnumKeyExW(get(), i, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (rc == ERROR_MORE_DATA) {
            buffer.assign(buffer.size() * 2, L'\0');
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            return rc;
        names.push_back(Utf8FromWide(std::wstring_view(buffer.data(), length)));
    }
}

LONG RegKey::Values(std::vector<Value>& values) const
{
    DWORD count = 0, maxName = 0, maxData = 0;
    LONG rc = RegQueryInfoKeyW(get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                               &maxData, nullptr, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    values.clear();
    std::wstring name(maxName + 1, L'\0');
    std::string data(maxData + 1, '\0');
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        rc = RegEnumValueW(get(), i, name.data(), &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                           &dataLength);
        if (rc == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (rc == ERROR_MORE_DATA) {
            // A value grew after we asked; retry this index with room to spare.
            name.assign(name.size() * 2, L'\0');
            data.assign(dataLength > data.size() ? dataLength : data.size() * 2, '\0');
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            return rc;
        values.push_back({Utf8FromWide(std::wstring_view(name.data(), nameLength)), type,
                          std::string(data.data(), dataLength)});
    }
}

FILETIME RegKey::LastWriteTime() const
{
    FILETIME written = {};
    RegQueryInfoKeyW(get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     &written);
    return written;
}
