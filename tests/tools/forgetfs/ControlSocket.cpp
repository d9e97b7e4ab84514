#include "ControlSocket.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace {

constexpr std::size_t MaxLine = 4096;
constexpr int RequestSeconds = 5;

std::runtime_error Failure(const std::string& context)
{
    return std::runtime_error(context + ": " + std::strerror(errno));
}

// A socket address holds about a hundred bytes; the folder is reached
// through a descriptor of it instead, so a socket in a deep folder fits.
class SocketAddress {
public:
    explicit SocketAddress(const std::string& path)
    {
        const std::size_t slash = path.find_last_of('/');
        const std::string folder = slash == 0 ? "/" : path.substr(0, slash);
        folder_.reset(open(folder.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!folder_)
            throw Failure("cannot open " + folder);
        const std::string name = "/proc/self/fd/" + std::to_string(folder_.get()) + path.substr(slash);
        if (name.size() >= sizeof address_.sun_path)
            throw std::runtime_error("socket name too long: " + path);
        address_.sun_family = AF_UNIX;
        std::memcpy(address_.sun_path, name.c_str(), name.size() + 1);
    }
    const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&address_); }
    socklen_t size() const { return sizeof address_; }

private:
    UniqueFd folder_;
    sockaddr_un address_{};
};

UniqueFd NewSocket()
{
    UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket)
        throw Failure("socket");
    return socket;
}

// Connected, or empty when nobody listens there.
UniqueFd Connect(const std::string& path)
{
    const SocketAddress address(path);
    UniqueFd socket = NewSocket();
    if (connect(socket.get(), address.get(), address.size()) != 0)
        return {};
    return socket;
}

std::string ReadLine(int socket)
{
    std::string line;
    char c = 0;
    while (line.size() < MaxLine && recv(socket, &c, 1, 0) == 1) {
        if (c == '\n')
            return line;
        line += c;
    }
    return line;
}

bool SendLine(int socket, const std::string& line)
{
    const std::string text = line + "\n";
    return send(socket, text.data(), text.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(text.size());
}

}  // namespace

std::string ControlSocketOf(const std::string& mountPoint)
{
    return mountPoint + ".control";
}

ControlServer::ControlServer(std::string path) : path_(std::move(path)), socket_(NewSocket())
{
    if (Connect(path_))
        throw std::runtime_error("a daemon already answers at " + path_);
    struct stat status {};
    if (lstat(path_.c_str(), &status) == 0 && S_ISSOCK(status.st_mode))
        unlink(path_.c_str());
    const SocketAddress address(path_);
    if (bind(socket_.get(), address.get(), address.size()) != 0 || listen(socket_.get(), 8) != 0)
        throw Failure("cannot listen at " + path_);
}

ControlServer::~ControlServer()
{
    unlink(path_.c_str());
}

void ControlServer::Serve(const std::function<std::string(std::string_view)>& answer)
{
    for (;;) {
        const UniqueFd client(accept4(socket_.get(), nullptr, nullptr, SOCK_CLOEXEC));
        if (!client) {
            if (errno == EINTR || errno == ECONNABORTED)
                continue;
            return;
        }
        // A client that sends nothing holds up the next request only for a while.
        const timeval patience{RequestSeconds, 0};
        setsockopt(client.get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
        const std::string request = ReadLine(client.get());
        if (!request.empty())
            SendLine(client.get(), answer(request));
    }
}

// A listening socket shut down wakes the accept that waits on it.
void ControlServer::Stop()
{
    shutdown(socket_.get(), SHUT_RDWR);
}

std::string Ask(const std::string& socketPath, const std::string& request)
{
    const UniqueFd socket = Connect(socketPath);
    if (!socket)
        throw Failure("no daemon answers at " + socketPath);
    if (!SendLine(socket.get(), request))
        throw Failure("cannot send to " + socketPath);
    return ReadLine(socket.get());
}
