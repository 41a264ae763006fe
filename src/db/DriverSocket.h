#pragma once
// The socket a database driver opened for one connection, found from
// outside the driver: ODBC has no way to ask a driver for it, and the
// PostgreSQL driver's own cancel request waits for the server, so neither
// ends a call that a stopped server never answers. Shutting the socket
// down does: the driver's wait returns at once with a broken connection.
//
// Written by hand because no library offers it; Linux only (/proc/self/fd).
// A socket is named by its descriptor and its inode together, and checked
// again before it is shut down, so a descriptor the driver closed and the
// process reused for something else is never touched.
#include <sys/types.h>

#include <optional>
#include <vector>

namespace parking {

struct SocketId {
    int fd = -1;
    ino_t inode = 0;
    friend bool operator==(const SocketId&, const SocketId&) = default;
};

// Every connected stream socket the process has open now.
std::vector<SocketId> connectedStreamSockets();

// The one socket connected since `before` whose peer is TCP port `port`,
// or a local PostgreSQL socket (".s.PGSQL.port"); nullopt when there is
// none, or more than one (another thread connected at the same moment).
std::optional<SocketId> newDatabaseSocket(const std::vector<SocketId>& before, int port);

// Shuts `socket` down for reading and writing if its descriptor still is
// that socket; false otherwise.
bool shutDownSocket(const SocketId& socket);

} // namespace parking
