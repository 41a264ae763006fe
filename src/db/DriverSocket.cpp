#include "DriverSocket.h"

#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace parking {

namespace {

std::optional<SocketId> streamSocket(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISSOCK(st.st_mode))
        return std::nullopt;
    int type = 0;
    socklen_t length = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &length) != 0 || type != SOCK_STREAM)
        return std::nullopt;
    sockaddr_storage peer{};
    socklen_t peerLength = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0)
        return std::nullopt; // listening, or not connected
    return SocketId{fd, st.st_ino};
}

bool peerIsDatabase(int fd, int port)
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    if (::getpeername(fd, reinterpret_cast<sockaddr*>(&peer), &length) != 0)
        return false;
    switch (peer.ss_family) {
    case AF_INET:
        return ntohs(reinterpret_cast<const sockaddr_in*>(&peer)->sin_port) == port;
    case AF_INET6:
        return ntohs(reinterpret_cast<const sockaddr_in6*>(&peer)->sin6_port) == port;
    case AF_UNIX: {
        const auto* un = reinterpret_cast<const sockaddr_un*>(&peer);
        const std::size_t pathLength = std::min<std::size_t>(length - offsetof(sockaddr_un, sun_path), sizeof un->sun_path);
        const std::string path(un->sun_path, strnlen(un->sun_path, pathLength));
        return path.find(".s.PGSQL." + std::to_string(port)) != std::string::npos;
    }
    default:
        return false;
    }
}

} // namespace

std::vector<SocketId> connectedStreamSockets()
{
    std::vector<SocketId> out;
    DIR* dir = ::opendir("/proc/self/fd");
    if (!dir)
        return out;
    const int own = ::dirfd(dir);
    while (const dirent* entry = ::readdir(dir)) {
        char* end = nullptr;
        const long fd = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || fd == own)
            continue;
        if (const auto socket = streamSocket(static_cast<int>(fd)))
            out.push_back(*socket);
    }
    ::closedir(dir);
    return out;
}

std::optional<SocketId> newDatabaseSocket(const std::vector<SocketId>& before, int port)
{
    std::optional<SocketId> found;
    for (const SocketId& s : connectedStreamSockets()) {
        if (std::find(before.begin(), before.end(), s) != before.end() || !peerIsDatabase(s.fd, port))
            continue;
        if (found)
            return std::nullopt; // two at once: neither is known to be ours
        found = s;
    }
    return found;
}

bool shutDownSocket(const SocketId& socket)
{
    const auto now = streamSocket(socket.fd);
    if (!now || now->inode != socket.inode)
        return false;
    return ::shutdown(socket.fd, SHUT_RDWR) == 0;
}

} // namespace parking
