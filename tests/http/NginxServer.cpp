// Winsock 2 must come before <windows.h>.
#include <winsock2.h>

#include "NginxServer.h"

#include "HttpTestServer.h"
#include "common/HostCommand.h"
#include "common/AppPaths.h"
#include "winutil/WideText.h"

#include <stdexcept>

namespace {

constexpr int StartTries = 5;

// A port no one listens on now; nginx is given it, and another is tried
// when some other program took it meanwhile.
int FreePort()
{
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0)
        throw std::runtime_error("cannot start Winsock");
    int port = 0;
    const SOCKET s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = inet_addr("127.0.0.1");
    int size = sizeof address;
    if (s != INVALID_SOCKET && bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    if (s != INVALID_SOCKET)
        closesocket(s);
    WSACleanup();
    if (port == 0)
        throw std::runtime_error("no free port for nginx");
    return port;
}

// A folder of the host's /tmp no other test has: lanes run side by side, each
// with process ids of its own wineserver.
std::string NewHostFolder()
{
    for (unsigned n = 0; n < 1000; ++n) {
        const std::string folder = "Z:\\tmp\\keldora-nginx-" + std::to_string(GetCurrentProcessId()) + "-" +
                                   std::to_string(GetTickCount()) + "-" + std::to_string(n) + "\\";
        if (CreateDirectoryW(WideFromUtf8(folder).c_str(), nullptr))
            return folder;
    }
    throw std::runtime_error("cannot make a folder for nginx below /tmp");
}

}  // namespace

NginxServer::NginxServer(const std::string& serverLines, int timeLimitSeconds) : folder_(NewHostFolder())
{
    CreateDirectoryW(WideFromUtf8(Root()).c_str(), nullptr);
    for (int tries = 0; tries < StartTries; ++tries) {
        if (Start(FreePort(), serverLines, timeLimitSeconds))
            return;
    }
    const std::string log = ReadWholeFile(folder_ + "state\\error.log");
    HostOutput(GetAppFolder(), "rm -rf " + HostPath(folder_));
    throw std::runtime_error("nginx did not start: " + log);
}

// Every path nginx would write is one of the folder's: the temporary
// folders too, which Debian's build places below /var/lib/nginx.
bool NginxServer::Start(int port, const std::string& serverLines, int timeLimitSeconds)
{
    const std::string state = Host("state/");
    std::string config = "daemon off;\n"
                         "pid " + state + "nginx.pid;\n"
                         "error_log " + state + "error.log warn;\n"
                         "worker_processes 1;\n"
                         "events { worker_connections 64; }\n"
                         "http {\n"
                         "    log_format keldora escape=none\n"
                         "        '$request_uri\\t$status\\t$http_range\\t$http_if_range\\t$body_bytes_sent\\t$sent_http_etag';\n"
                         "    access_log " + state + "access.log keldora;\n";
    for (const char* kind : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        config += "    " + std::string(kind) + "_temp_path " + state + kind + ";\n";
    config += "    types {}\n"
              "    default_type application/octet-stream;\n"
              "    server {\n"
              "        listen 127.0.0.1:" + std::to_string(port) + ";\n"
              "        root " + Host("root") + ";\n" + serverLines + "\n"
              "    }\n"
              "}\n";
    WriteWholeFile(folder_ + "nginx.conf", config);
    // In the foreground under timeout, which ends a server whose test never
    // stopped it; up once its pid file is written, after it listens.
    const std::string command =
        "set -e; cd " + Host("") + "; chmod 755 . root; mkdir -p state; as=; if [ $(id -u) = 0 ]; then " +
        "chown nobody:nogroup state; as='setpriv --reuid=nobody --regid=nogroup --clear-groups'; fi; " +
        "timeout " + std::to_string(timeLimitSeconds) + " $as /usr/sbin/nginx -p " + state + " -c " +
        Host("nginx.conf") + " -e " + state + "error.log </dev/null >/dev/null 2>&1 & s=$!; " +
        "for n in $(seq 400); do [ -s " + state + "nginx.pid ] && exit 0; kill -0 $s 2>/dev/null || exit 1; " +
        "sleep 0.05; done; exit 1";
    try {
        HostOutput(folder_, command);
    } catch (const std::runtime_error&) {
        return false;
    }
    port_ = port;
    return true;
}

NginxServer::~NginxServer()
{
    const std::string state = Host("state/");
    try {
        HostOutput(GetAppFolder(), "for p in $(cat " + state + "nginx.pid 2>/dev/null); do kill -TERM $p; " +
                                       "while kill -0 $p 2>/dev/null; do sleep 0.05; done; done; cd /; rm -rf " +
                                       Host(""));
    } catch (const std::runtime_error&) {
        // The time limit ends the server all the same.
    }
}

std::string NginxServer::Host(const std::string& name) const
{
    return HostPath(folder_) + name;
}

std::string NginxServer::Url(const std::string& pathAndQuery) const
{
    return "http://127.0.0.1:" + std::to_string(port_) + pathAndQuery;
}

void NginxServer::PutFile(const std::string& name, const std::string& bytes) const
{
    WriteWholeFile(Root() + name, bytes);
}

std::string NginxServer::RequestLog() const
{
    return ReadWholeFile(folder_ + "state\\access.log");
}

std::vector<std::string> NginxServer::RequestsFor(const std::string& path) const
{
    return LinesNaming(RequestLog(), path);
}
