#include "winutil/ResourceFile.h"

#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

namespace {

bool WriteAll(HANDLE file, const void* data, DWORD size)
{
    DWORD written = 0;
    if (!WriteFile(file, data, size, &written, nullptr))
        return false;
    if (written == size)
        return true;
    SetLastError(ERROR_WRITE_FAULT);
    return false;
}

// A resource name or number as the wide functions take it; a number travels
// in the pointer itself (MAKEINTRESOURCE).
struct ResourceId {
    explicit ResourceId(const char* id)
        : number(IS_INTRESOURCE(id) ? reinterpret_cast<ULONG_PTR>(id) : 0), name(number ? L"" : WideFromUtf8(id))
    {
    }
    const wchar_t* c_str() const { return number ? MAKEINTRESOURCEW(number) : name.c_str(); }


    ULONG_PTR number;
    std::wstring name;
};

}  // namespace

bool WriteResourceToFile(HMODULE module, const char* name, const char* type, const std::string& path)
{
    const HRSRC resource = FindResourceW(module, ResourceId(name).c_str(), ResourceId(type).c_str());
    if (!resource)
        return false;
    const DWORD size = SizeofResource(module, resource);
    const HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return false;
    const std::wstring widePath = WideFromUtf8(path);
    bool written = false;
    {
        UniqueFile file(CreateFileW(widePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_TEMPORARY, nullptr));
        if (!file)
            return false;
        written = WriteAll(file.get(), data, size);
    }
    if (!written) {
        const DWORD error = GetLastError();
        DeleteFileW(widePath.c_str());
        SetLastError(error);
    }
    return written;
}
