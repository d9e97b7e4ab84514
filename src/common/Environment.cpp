#include "Environment.h"

#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <windows.h>
#include <shellapi.h>

std::string GetEnvVar(std::string_view name)
{
    const std::wstring n = WideFromUtf8(name);
    std::wstring value(1024, L'\0');
    for (;;) {
        const DWORD length = GetEnvironmentVariableW(n.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0)
            return {};
        if (length < value.size())
            return Utf8FromWide(std::wstring_view(value.data(), length));
        value.resize(length);  // the needed size, terminating zero included
    }
}

std::string ExpandEnvVars(std::string_view text)
{
    const std::wstring source = WideFromUtf8(text);
    DWORD size = ExpandEnvironmentStringsW(source.c_str(), nullptr, 0);
    for (int attempt = 0; size != 0 && attempt < 4; ++attempt) {
        std::vector<wchar_t> buffer(size + 1);
        const DWORD needed = ExpandEnvironmentStringsW(source.c_str(), buffer.data(), size + 1);
        if (needed == 0)
            break;
        if (needed <= size + 1)
            return Utf8FromWide(buffer.data());
        size = needed;  // the environment changed between the two calls
    }
    return std::string(text);
}

std::vector<std::string> ProgramArguments()
{
    int count = 0;
    wchar_t** arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    const UniqueLocalMemory owner(arguments);
    std::vector<std::string> list;
    for (int i = 0; arguments && i < count; ++i)
        list.push_back(Utf8FromWide(arguments[i]));
    return list;
}
