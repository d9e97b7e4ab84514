// Winsock 2 must come before <windows.h>.
#include <winsock2.h>

#include "HttpTestServer.h"

#include "common/HostCommand.h"
#include "common/AppPaths.h"
#include "winutil/UniqueHandle.h"
#include "winutil/UniqueInternet.h"
#include "winutil/WideText.h"

#include <wincrypt.h>
#include <wininet.h>

#include <stdexcept>

namespace {

constexpr const char* Python = "Z:\\usr\\bin\\python3";

std::string ServerScript()
{
    return std::string(KELDORA_SOURCE_DIR) + "/tests/tools/httpserver.py";
}

void Quit(int port)
{
    SOCKET s = INVALID_SOCKET;
    WSADATA data;
    if (WSAStartup(MAKEWORD(1, 1), &data) != 0)
        return;
    s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    if (s != INVALID_SOCKET && connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
        const char request[] = "GET /quit HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        send(s, request, sizeof request - 1, 0);
        char buffer[256];
        while (recv(s, buffer, sizeof buffer, 0) > 0) {
        }
    }
    if (s != INVALID_SOCKET)
        closesocket(s);
    WSACleanup();
}

HCERTSTORE RootStore()
{
    return CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
}

void RemoveFolder(const std::string& folder)
{
    for (const FoundFile& file : FindFiles(folder + "*")) {
        SetFileAttributesW(WideFromUtf8(folder + file.name).c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(WideFromUtf8(folder + file.name).c_str());
    }
    RemoveDirectoryW(WideFromUtf8(folder).c_str());
}

// The certificate authority and the "localhost" certificate every HTTPS
// server of this process uses, made by the host's openssl. Wine's chain
// engine reads the Root store once per process, so the authority is trusted
// once, before the first HTTPS request, and distrusted when the process ends.
class TestAuthority {
public:
    static const TestAuthority& Get()
    {
        static const TestAuthority authority;
        return authority;
    }
    // The server's options that make it speak HTTPS with the certificate.
    std::string ServerOptions() const
    {
        const std::string folder = HostPath(folder_);
        return " --tls-cert " + folder + "server.pem --tls-key " + folder + "server.key";
    }

    TestAuthority(const TestAuthority&) = delete;
    TestAuthority& operator=(const TestAuthority&) = delete;

private:
    TestAuthority() : folder_(GetAppFolder() + "httpcert-" + std::to_string(GetCurrentProcessId()) + "\\")
    {
        CreateDirectoryW(WideFromUtf8(folder_).c_str(), nullptr);
        const std::string key = " -newkey rsa:2048 -nodes -days 2";
        HostOutput(folder_, "cd " + HostPath(folder_) + " && openssl req -x509" + key +
                                " -keyout ca.key -out ca.pem -subj '/CN=Keldora Test CA " +
                                std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount()) +
                                "' -addext basicConstraints=critical,CA:TRUE" +
                                " -addext keyUsage=critical,keyCertSign,cRLSign && openssl req" + key +
                                " -keyout server.key -out server.csr -subj /CN=localhost" +
                                " && printf 'subjectAltName=DNS:localhost\\nextendedKeyUsage=serverAuth\\n' >server.ext" +
                                " && openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial" +
                                " -days 2 -extfile server.ext -out server.pem" +
                                " && openssl x509 -in ca.pem -outform DER -out ca.der");
        der_ = ReadWholeFile(folder_ + "ca.der");
        // The store reaches the registry, where the chain engine reads it,
        // when it is closed with no certificate of it held.
        const HCERTSTORE root = RootStore();
        const bool trusted = root && CertAddEncodedCertificateToStore(
                                         root, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()),
                                         static_cast<DWORD>(der_.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        if (root)
            CertCloseStore(root, 0);
        if (!trusted)
            throw std::runtime_error("cannot make the test authority trusted");
    }

    // Deleting through the store does not reach the registry under Wine:
    // the key the store wrote, named by the SHA-1 of the certificate, goes.
    ~TestAuthority()
    {
        const PCCERT_CONTEXT certificate = CertCreateCertificateContext(
            X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der_.data()), static_cast<DWORD>(der_.size()));
        BYTE hash[20] = {};
        DWORD size = sizeof hash;
        if (certificate && CertGetCertificateContextProperty(certificate, CERT_SHA1_HASH_PROP_ID, hash, &size)) {
            std::wstring key = L"Software\\Microsoft\\SystemCertificates\\Root\\Certificates\\";
            for (DWORD i = 0; i < size; ++i) {
                key += L"0123456789ABCDEF"[hash[i] >> 4];
                key += L"0123456789ABCDEF"[hash[i] & 15];
            }
            RegDeleteKeyW(HKEY_LOCAL_MACHINE, key.c_str());
        }
        if (certificate)
            CertFreeCertificateContext(certificate);
        RemoveFolder(folder_);
    }

    std::string folder_;
    std::string der_;
};

// An HTTPS server hears only TLS: it is asked through WinInet, while its
// authority is still trusted.
void QuitSecure(const std::string& url)
{
    const UniqueInternet session(InternetOpenW(L"Keldora test", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
    if (!session)
        return;
    const UniqueInternet request(InternetOpenUrlW(session.get(), WideFromUtf8(url).c_str(), nullptr, 0,
                                                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
    char buffer[256];
    DWORD read = 0;
    while (request && InternetReadFile(request.get(), buffer, sizeof buffer, &read) && read > 0) {
    }
}

}  // namespace

void WriteWholeFile(const std::string& path, const std::string& bytes)
{
    UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file)
        throw std::runtime_error("cannot create " + path);
    DWORD written = 0;
    if (!bytes.empty() && !WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        throw std::runtime_error("cannot write " + path);
}

std::string ReadWholeFile(const std::string& path)
{
    UniqueFile file(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr));
    if (!file)
        return {};
    std::string bytes;
    char buffer[65536];
    DWORD got = 0;
    while (ReadFile(file.get(), buffer, sizeof buffer, &got, nullptr) && got)
        bytes.append(buffer, got);
    return bytes;
}

std::string PatternBytes(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

HttpTestServer::HttpTestServer(ServerScheme scheme, int timeLimitSeconds) : scheme_(scheme)
{
    const std::string id = std::to_string(GetCurrentProcessId()) + "-" + std::to_string(GetTickCount());
    root_ = GetAppFolder() + "httproot-" + id + "\\";
    CreateDirectoryW(WideFromUtf8(root_).c_str(), nullptr);
    const std::string portFile = root_ + "port.txt";
    logFile_ = GetAppFolder() + "httplog-" + id + ".txt";

    std::string command = std::string(Python) + " " + ServerScript() + " --root " + HostPath(root_) +
                          " --port-file " + HostPath(portFile) + " --log " + HostPath(logFile_) +
                          " --time-limit " + std::to_string(timeLimitSeconds) +
                          (scheme_ == ServerScheme::Https ? TestAuthority::Get().ServerOptions() : std::string());
    std::wstring wideCommand = WideFromUtf8(command);
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    if (!CreateProcessW(nullptr, wideCommand.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        throw std::runtime_error("cannot start the test server: " + command);
    UniqueKernelHandle process(pi.hProcess), thread(pi.hThread);

    std::string text;
    if (!WaitUntil([&] { return (text = ReadWholeFile(portFile)).ends_with('\n'); }, 60000))
        throw std::runtime_error("the test server did not start");
    port_ = std::stoi(text);
    DeleteFileW(WideFromUtf8(portFile).c_str());
}

HttpTestServer::~HttpTestServer()
{
    if (scheme_ == ServerScheme::Https)
        QuitSecure(Url("/quit"));
    else
        Quit(port_);
    RemoveFolder(root_);
    DeleteFileW(WideFromUtf8(logFile_).c_str());
}

// WinInet checks the name against the certificate, and Wine's check matches
// a DNS name only: the server is reached as "localhost".
std::string HttpTestServer::Url(const std::string& pathAndQuery) const
{
    const std::string origin = scheme_ == ServerScheme::Https ? "https://localhost:" : "http://127.0.0.1:";
    return origin + std::to_string(port_) + pathAndQuery;
}

void HttpTestServer::PutFile(const std::string& name, const std::string& bytes) const
{
    WriteWholeFile(root_ + name, bytes);
}

std::string HttpTestServer::RequestLog() const
{
    return ReadWholeFile(logFile_);
}

std::vector<std::string> HttpTestServer::RequestsFor(const std::string& path) const
{
    return LinesNaming(RequestLog(), path);
}

std::vector<std::string> LinesNaming(const std::string& log, const std::string& path)
{
    std::vector<std::string> found;
    for (std::size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = log.substr(start, end - start);
        if (line.find(path) != std::string::npos)
            found.push_back(line);
    }
    return found;
}

bool IsConditionalRequest(const std::string& requestLine)
{
    return requestLine.find("If-None-Match") != std::string::npos ||
           requestLine.find("If-Modified-Since") != std::string::npos;
}
