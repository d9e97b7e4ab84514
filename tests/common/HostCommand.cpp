#include "HostCommand.h"

#include "winutil/UniqueHandle.h"
#include "winutil/WholeFile.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <stdexcept>

namespace {

constexpr std::size_t MaxOutput = 64 << 20;

std::string ContentOf(const std::string& path)
{
    return ReadWholeFile(path, MaxOutput).value_or(std::string());
}

}  // namespace

// The host process is not one Wine can wait for, so the command marks its own end.
std::string HostOutput(const std::string& folder, const std::string& command)
{
    const std::string output = folder + "host-output.txt";
    const std::string done = folder + "host-done.txt";
    DeleteFileW(WideFromUtf8(output).c_str());
    DeleteFileW(WideFromUtf8(done).c_str());
    std::wstring line = WideFromUtf8("Z:\\bin\\sh -c \"(" + command + ") >" + HostPath(output) +
                                     " 2>/dev/null; echo $? >" + HostPath(done) + "\"");
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &started))
        throw std::runtime_error("cannot start the host shell");
    UniqueKernelHandle process(started.hProcess), thread(started.hThread);
    for (const DWORD start = GetTickCount(); GetTickCount() - start < 30000; Sleep(20)) {
        const std::string status = ContentOf(done);
        if (!status.empty() && status.back() == '\n') {
            if (status != "0\n")
                throw std::runtime_error("host command failed: " + command);
            return ContentOf(output);
        }
    }
    throw std::runtime_error("host command did not end: " + command);
}

std::string HostPath(const std::string& windowsPath)
{
    std::string path = windowsPath;
    if (path.size() >= 2 && (path[0] == 'Z' || path[0] == 'z') && path[1] == ':')
        path.erase(0, 2);
    for (char& c : path) {
        if (c == '\\')
            c = '/';
    }
    return path;
}
