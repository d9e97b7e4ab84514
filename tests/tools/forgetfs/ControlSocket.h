#pragma once
// The control socket of a mount: a Unix socket beside the mount point (its
// path with ".control" appended), outside the file system, where the daemon
// answers one request line per connection with one line. Requests: "cut"
// (answered "ok" once the cut is complete, else "error: ..."), "pid".
#include "UniqueFd.h"

#include <functional>
#include <string>
#include <string_view>

// `mountPoint` is an absolute path.
std::string ControlSocketOf(const std::string& mountPoint);

class ControlServer {
public:
    // Binds the socket; one left behind by a daemon that is gone is replaced.
    // Throws std::runtime_error when another daemon answers there.
    explicit ControlServer(std::string path);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Answers requests one at a time on the calling thread until Stop.
    void Serve(const std::function<std::string(std::string_view request)>& answer);
    // Ends Serve from another thread.
    void Stop();

private:
    std::string path_;
    UniqueFd socket_;
};

// Sends the request and returns the answer, without its newline. Throws
// std::runtime_error when no daemon answers.
std::string Ask(const std::string& socketPath, const std::string& request);
