#include "RegKey.h"

#include "winutil/RuntimeLink.h"

#include <cstring>

std::string RegistryPath(std::string_view path)
{
    while (!path.empty() && path.front() == '\\')
        path.remove_prefix(1);
    return std::string(path);
}

std::string RegStringData(const std::string& raw)
{
    return raw.substr(0, raw.find('\0'));
}

RegKey RegKey::Open(HKEY root, std::string_view path, REGSAM access, LONG* error)
{
    HKEY key = nullptr;
    const LONG rc = RegOpenKeyExA(root, RegistryPath(path).c_str(), 0, access, &key);
    if (error)
        *error = rc;
    return rc == ERROR_SUCCESS ? RegKey(key) : RegKey();
}

RegKey RegKey::Create(HKEY root, std::string_view path, REGSAM access, LONG* error)
{
    HKEY key = nullptr;
    const LONG rc = RegCreateKeyExA(root, RegistryPath(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                                    nullptr, &key, nullptr);
    if (error)
        *error = rc;
    return rc == ERROR_SUCCESS ? RegKey(key) : RegKey();
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
    const std::string full = RegistryPath(path);
    if (full.empty())
        return ERROR_INVALID_PARAMETER;
    if (view == 0)
        return RegDeleteKeyA(root, full.c_str());
    // Only systems that have registry views have the call that names one.
    using RegDeleteKeyExAFn = LONG WINAPI(HKEY, LPCSTR, REGSAM, DWORD);
    try {
        static const auto deleteKeyEx = BindFunctionAs<RegDeleteKeyExAFn>("advapi32.dll", "RegDeleteKeyExA");
        return deleteKeyEx(root, full.c_str(), view, 0);
    } catch (const std::runtime_error&) {
        return RegDeleteKeyA(root, full.c_str());
    }
}

LONG RegKey::Query(std::string_view name, Value& value) const
{
    const std::string n(name);
    DWORD size = 0;
    LONG rc = RegQueryValueExA(get(), n.c_str(), nullptr, &value.type, nullptr, &size);
    // The value may grow between the two calls; ask again until it fits.
    while (rc == ERROR_SUCCESS || rc == ERROR_MORE_DATA) {
        value.data.assign(size, '\0');
        DWORD got = size;
        rc = RegQueryValueExA(get(), n.c_str(), nullptr, &value.type,
                              reinterpret_cast<BYTE*>(value.data.data()), &got);
        if (rc == ERROR_SUCCESS) {
            value.data.resize(got);
            value.name = n;
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
    return RegQueryValueExA(get(), std::string(name).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

LONG RegKey::WriteString(std::string_view name, std::string_view text, DWORD type) const
{
    const std::string data(text);
    return RegSetValueExA(get(), std::string(name).c_str(), 0, type, reinterpret_cast<const BYTE*>(data.c_str()),
                          static_cast<DWORD>(data.size() + 1));
}

LONG RegKey::WriteDword(std::string_view name, DWORD data) const
{
    return RegSetValueExA(get(), std::string(name).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data);
}

LONG RegKey::DeleteValue(std::string_view name) const
{
    return RegDeleteValueA(get(), std::string(name).c_str());
}

LONG RegKey::SubKeyNames(std::vector<std::string>& names) const
{
    DWORD count = 0, maxLength = 0;
    LONG rc = RegQueryInfoKeyA(get(), nullptr, nullptr, nullptr, &count, &maxLength, nullptr, nullptr, nullptr,
                               nullptr, nullptr, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    names.clear();
    std::string buffer(maxLength + 1, '\0');
    for (DWORD i = 0;; ++i) {
        DWORD length = static_cast<DWORD>(buffer.size());
        rc = RegEnumKeyExA(get(), i, buffer.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (rc == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (rc == ERROR_MORE_DATA) {
            buffer.assign(buffer.size() * 2, '\0');
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            return rc;
        names.emplace_back(buffer.data(), length);
    }
}

LONG RegKey::Values(std::vector<Value>& values) const
{
    DWORD count = 0, maxName = 0, maxData = 0;
    LONG rc = RegQueryInfoKeyA(get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count, &maxName,
                               &maxData, nullptr, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    values.clear();
    std::string name(maxName + 1, '\0');
    std::string data(maxData + 1, '\0');
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD dataLength = static_cast<DWORD>(data.size());
        DWORD type = REG_NONE;
        rc = RegEnumValueA(get(), i, name.data(), &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                           &dataLength);
        if (rc == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (rc == ERROR_MORE_DATA) {
            // A value grew after we asked; retry this index with room to spare.
            name.assign(name.size() * 2, '\0');
            data.assign(dataLength > data.size() ? dataLength : data.size() * 2, '\0');
            --i;
            continue;
        }
        if (rc != ERROR_SUCCESS)
            return rc;
        values.push_back({std::string(name.data(), nameLength), type, std::string(data.data(), dataLength)});
    }
}
