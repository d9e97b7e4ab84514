#include "winutil/ResourceFile.h"

#include "winutil/UniqueHandle.h"

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

}  // namespace

bool WriteResourceToFile(HMODULE module, const char* name, const char* type, const std::string& path)
{
    const HRSRC resource = FindResourceA(module, name, type);
    if (!resource)
        return false;
    const DWORD size = SizeofResource(module, resource);
    const HGLOBAL loaded = LoadResource(module, resource);
    const void* data = loaded ? LockResource(loaded) : nullptr;
    if (!data)
        return false;
    bool written = false;
    {
        UniqueFile file(CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY, nullptr));
        if (!file)
            return false;
        written = WriteAll(file.get(), data, size);
    }
    if (!written) {
        const DWORD error = GetLastError();
        DeleteFileA(path.c_str());
        SetLastError(error);
    }
    return written;
}
