// Finding a driver's socket from outside it, on real loopback sockets: the
// one connected since a moment to the database's port is found, a second
// one at the same moment makes it unknown, and shutting it down ends a
// read that would wait for ever, but never touches a descriptor that is
// now another socket.
#include "DriverSocket.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include <gtest/gtest.h>

using namespace parking;

namespace {

// A listening loopback socket and the port it has.
struct Listener {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    int port = 0;
    Listener()
    {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 8);
        socklen_t n = sizeof a;
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &n);
        port = ntohs(a.sin_port);
    }
    ~Listener() { ::close(fd); }
};

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    return fd;
}

TEST(DriverSocket, TheOneNewSocketToThePortIsFoundAndItsShutDownEndsABlockedRead)
{
    Listener server;
    Listener other;
    const auto before = connectedStreamSockets();
    const int unrelated = connectTo(other.port);
    const int fd = connectTo(server.port);
    const auto found = newDatabaseSocket(before, server.port);
    ASSERT_TRUE(found);
    EXPECT_EQ(found->fd, fd);

    // A read the peer never answers, as a driver's waiting for a stopped server.
    ssize_t got = 1;
    std::thread reader([&] {
        char byte;
        got = ::recv(fd, &byte, 1, 0);
    });
    EXPECT_TRUE(shutDownSocket(*found));
    reader.join();
    EXPECT_EQ(got, 0);
    ::close(fd);
    ::close(unrelated);
}

TEST(DriverSocket, TwoNewSocketsToThePortAtOnceAreNeitherKnown)
{
    Listener server;
    const auto before = connectedStreamSockets();
    const int a = connectTo(server.port);
    const int b = connectTo(server.port);
    EXPECT_FALSE(newDatabaseSocket(before, server.port));
    EXPECT_FALSE(newDatabaseSocket(connectedStreamSockets(), server.port)) << "nothing new since";
    ::close(a);
    ::close(b);
}

TEST(DriverSocket, ADescriptorThatIsNowAnotherSocketIsLeftAlone)
{
    Listener server;
    const auto before = connectedStreamSockets();
    const int fd = connectTo(server.port);
    const auto found = newDatabaseSocket(before, server.port);
    ASSERT_TRUE(found);
    ::close(fd);
    // The number comes back for a socket of someone else's.
    const int reused = connectTo(server.port);
    ASSERT_EQ(reused, fd);
    EXPECT_FALSE(shutDownSocket(*found));
    int error = 0;
    socklen_t n = sizeof error;
    EXPECT_EQ(::send(reused, "x", 1, MSG_NOSIGNAL), 1) << "the new socket still works";
    EXPECT_EQ(::getsockopt(reused, SOL_SOCKET, SO_ERROR, &error, &n), 0);
    EXPECT_EQ(error, 0);
    ::close(reused);
}

} // namespace
