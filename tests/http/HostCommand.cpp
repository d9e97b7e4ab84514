#include "HostCommand.h"

#include "HttpTestServer.h"
#include "common/Utils.h"
#include "winutil/FindFiles.h"
#include "winutil/UniqueHandle.h"
#include "winutil/WideText.h"

#include <windows.h>

#include <stdexcept>

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
        const std::string status = ReadWholeFile(done);
        if (!status.empty() && status.back() == '\n') {
            if (status != "0\n")
                throw std::runtime_error("host command failed: " + command);
            return ReadWholeFile(output);
        }
    }
    throw std::runtime_error("host command did not end: " + command);
}

Publisher::Publisher(const std::string& name)
    : folder_(GetAppFolder() + "publisher-" + name + "-" + std::to_string(GetCurrentProcessId()) + "\\")
{
    CreateDirectoryW(WideFromUtf8(folder_).c_str(), nullptr);
    HostOutput(folder_, "openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out " + Key());
}

Publisher::~Publisher()
{
    for (const FoundFile& file : FindFiles(folder_ + "*"))
        DeleteFileW(WideFromUtf8(folder_ + file.name).c_str());
    RemoveDirectoryW(WideFromUtf8(folder_).c_str());
}

std::string Publisher::PublicKey() const
{
    return HostOutput(folder_, "openssl pkey -in " + Key() + " -pubout -outform DER | openssl base64 -A");
}

std::string Publisher::Signature(const std::string& text) const
{
    const std::string file = folder_ + "info.txt";
    WriteWholeFile(file, text);
    return HostOutput(folder_, "openssl dgst -sha256 -sign " + Key() + " " + HostPath(file) + " | openssl base64 -A");
}

std::string Publisher::Digest(const std::string& path) const
{
    return HostOutput(folder_, "openssl dgst -sha256 -r " + HostPath(path)).substr(0, 64);
}

std::string Publisher::Key() const
{
    return HostPath(folder_ + "publisher.pem");
}
