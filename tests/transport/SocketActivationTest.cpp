#include "transport/SocketActivation.h"

#include "common/UniqueFd.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
struct Socket
{
    UniqueFd fd;
    quint16 port = 0;
};

// An IPv4 socket bound to address on a port the system picks, listening when asked.
Socket boundSocket(int type, in_addr_t address, bool listening)
{
    Socket socket{UniqueFd(::socket(AF_INET, type | SOCK_CLOEXEC, 0))};
    sockaddr_in name = {};
    name.sin_family = AF_INET;
    name.sin_addr.s_addr = htonl(address);
    socklen_t length = sizeof(name);
    if (::bind(socket.fd.get(), reinterpret_cast<sockaddr *>(&name), length) != 0 ||
        (listening && ::listen(socket.fd.get(), 4) != 0) ||
        ::getsockname(socket.fd.get(), reinterpret_cast<sockaddr *>(&name), &length) != 0)
        return {};
    socket.port = ntohs(name.sin_port);
    return socket;
}
} // namespace

// What a service manager, or whoever sets the variables, could hand over: only a TCP
// socket listening on 127.0.0.1 at the dispatcher's own port is taken.
TEST(SocketActivationTest, Mismatch_DescriptorKinds_OnlyLoopbackListenerOnThePortTaken)
{
    const Socket listener = boundSocket(SOCK_STREAM, INADDR_LOOPBACK, true);
    ASSERT_TRUE(listener.fd.isValid());
    EXPECT_EQ(SocketActivation::mismatch(listener.fd.get(), listener.port), QString());
    EXPECT_NE(SocketActivation::mismatch(listener.fd.get(), quint16(listener.port + 1)), QString());

    const struct
    {
        const char *name;
        Socket socket;
    } refused[] = {{"bound, not listening", boundSocket(SOCK_STREAM, INADDR_LOOPBACK, false)},
                   {"datagram", boundSocket(SOCK_DGRAM, INADDR_LOOPBACK, false)},
                   {"every address", boundSocket(SOCK_STREAM, INADDR_ANY, true)}};
    for (const auto &c : refused) {
        ASSERT_TRUE(c.socket.fd.isValid()) << c.name;
        EXPECT_NE(SocketActivation::mismatch(c.socket.fd.get(), c.socket.port), QString()) << c.name;
    }
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const UniqueFd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
    EXPECT_NE(SocketActivation::mismatch(readEnd.get(), listener.port), QString()) << "pipe";
    EXPECT_NE(SocketActivation::mismatch(-1, listener.port), QString()) << "no descriptor";
}
