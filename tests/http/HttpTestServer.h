#pragma once
// The test HTTP server (tests/tools/httpserver.py) run by the host's Python
// for as long as this object lives, serving a fresh folder beside the test
// program (removed again with its files at the end). Tests that wait on the
// main thread pump messages with PumpUntil() and PumpMessagesFor() of
// common/WineSupport.h.
//
// An HTTPS server has a certificate for "localhost" issued, by the host's
// openssl, by a certificate authority of the test process that the Wine
// prefix trusts (the machine's Root store) until the process ends.
#include <windows.h>

#include "common/WineSupport.h"
#include "winutil/FindFiles.h"

#include <string>
#include <vector>

enum class ServerScheme { Http, Https };

class HttpTestServer {
public:
    explicit HttpTestServer(ServerScheme scheme = ServerScheme::Http, int timeLimitSeconds = 300);
    ~HttpTestServer();
    HttpTestServer(const HttpTestServer&) = delete;
    HttpTestServer& operator=(const HttpTestServer&) = delete;

    int Port() const { return port_; }
    // "http://127.0.0.1:<port>" (or "https://localhost:<port>") followed by the path and query.
    std::string Url(const std::string& pathAndQuery) const;
    // Folder served at "/" (a Windows path ending in "\").
    const std::string& Root() const { return root_; }
    void PutFile(const std::string& name, const std::string& bytes) const;
    // One JSON line per request the server received.
    std::string RequestLog() const;
    // The lines of RequestLog whose request named `path`, in order.
    std::vector<std::string> RequestsFor(const std::string& path) const;

private:
    ServerScheme scheme_;
    std::string root_;
    std::string logFile_;
    int port_ = 0;
};

std::string ReadWholeFile(const std::string& path);
// Creates or replaces the file with these bytes; throws when it cannot.
void WriteWholeFile(const std::string& path, const std::string& bytes);
// Bytes 0, 1, ... 250, 0, 1, ... as the server's /gen/N address serves them.
std::string PatternBytes(std::size_t size);

// The lines of a server's request log that name `path`, in order.
std::vector<std::string> LinesNaming(const std::string& log, const std::string& path);

// Whether a line of RequestLog asked "only if changed" (If-None-Match or
// If-Modified-Since).
bool IsConditionalRequest(const std::string& requestLine);
