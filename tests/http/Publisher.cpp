#include "Publisher.h"

#include "HttpTestServer.h"
#include "common/HostCommand.h"
#include "common/AppPaths.h"
#include "winutil/FindFiles.h"
#include "winutil/WideText.h"

#include <windows.h>

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
