#pragma once
// nginx, Debian's package, run on the host for as long as this object lives:
// on 127.0.0.1 and a free port, as the unprivileged user nobody when the
// tests run as root, with a configuration of its own in a fresh folder of the
// host's /tmp (nothing of /etc/nginx, no system service), serving that
// folder's root. Stopped, and its folder removed, at the end; a test that
// never ends leaves no server behind after the time limit.
#include <string>
#include <vector>

class NginxServer {
public:
    // `serverLines` go into the server block: a test's own locations.
    explicit NginxServer(const std::string& serverLines = {}, int timeLimitSeconds = 300);
    ~NginxServer();
    NginxServer(const NginxServer&) = delete;
    NginxServer& operator=(const NginxServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by the path and query.
    std::string Url(const std::string& pathAndQuery) const;
    // Folder served at "/" (a Windows path ending in "\").
    std::string Root() const { return folder_ + "root\\"; }
    void PutFile(const std::string& name, const std::string& bytes) const;
    // One line per request answered: address, status, Range, If-Range, body
    // bytes sent and the ETag sent, separated by tabs.
    std::string RequestLog() const;
    // The lines of RequestLog whose request named `path`, in order.
    std::vector<std::string> RequestsFor(const std::string& path) const;

private:
    bool Start(int port, const std::string& serverLines, int timeLimitSeconds);
    std::string Host(const std::string& name) const;

    std::string folder_;
    int port_ = 0;
};
