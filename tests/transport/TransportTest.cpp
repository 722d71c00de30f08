// What a server takes from outside before any client connects: the dispatcher's answer about a
// process's account (over the network, so anything but a whole, plausible 200 names nobody), and a
// listening socket handed over at start-up.
#include "common/UniqueFd.h"
#include "support/QtPrinters.h"
#include "transport/DispatcherAccountQuery.h"
#include "transport/SocketActivation.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace {
QByteArray answer(const QByteArray &status, const QByteArray &body, const QByteArray &extraHeaders = {})
{
    return "HTTP/1.1 " + status + "\r\n" + extraHeaders +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

TEST(DispatcherAnswerTest, ParseAnswer_WholeOrPartialAnswers_AccountOnlyFromWholePlausible200)
{
    // The answer's bytes, whether it is whole, and the account it names (null: none).
    const std::tuple<QByteArray, bool, const char *> cases[] = {
        {answer("200 OK", "host/alice"), true, "host/alice"},
        {"HTTP/1.1 200 OK\r\ncontent-length: 8\r\n\r\nhost/bob", true, "host/bob"},
        {"HTTP/1.1 200 OK\r\nContent-Length: 10\r\n", false, nullptr},
        {answer("200 OK", "host/alice").chopped(3), false, nullptr},
        {answer("500 Internal Server Error", "Problem occurred when trying to obtain username"), true,
         nullptr},
        {"HTTP/1.1 200 OK\r\n\r\nhost/alice", true, nullptr},
        {answer("200 OK", "host/alice", "Content-Length: 10\r\n"), true, nullptr},
        {"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhost/alice", true, nullptr},
        {"HTTP/1.1 200 OK\r\nContent-Length: 99999999999\r\n\r\n", true, nullptr},
        {answer("200 OK", "<UNKNOWN>"), true, nullptr},
        {answer("200 OK", "host/al\nice"), true, nullptr},
        {answer("200 OK", "host/\xff\xfe"), true, nullptr},
        {"SSH-2.0-OpenSSH_9.2\r\n\r\n", true, nullptr},
    };
    for (const auto &[bytes, complete, account] : cases) {
        const DispatcherAccountQuery::Answer parsed = DispatcherAccountQuery::parseAnswer(bytes);
        EXPECT_EQ(parsed.complete, complete) << bytes.toStdString();
        EXPECT_EQ(parsed.account.value_or(QString()), QString::fromLatin1(account)) << bytes.toStdString();
    }
}

// An IPv4 socket bound to address on a port the system picks, listening when asked.
std::pair<UniqueFd, quint16> boundSocket(int type, in_addr_t address, bool listening)
{
    UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, 0));
    sockaddr_in name = {};
    name.sin_family = AF_INET;
    name.sin_addr.s_addr = htonl(address);
    socklen_t length = sizeof(name);
    const bool ready = ::bind(fd.get(), reinterpret_cast<sockaddr *>(&name), length) == 0 &&
                       (!listening || ::listen(fd.get(), 4) == 0) &&
                       ::getsockname(fd.get(), reinterpret_cast<sockaddr *>(&name), &length) == 0;
    EXPECT_TRUE(ready);
    return {std::move(fd), ntohs(name.sin_port)};
}
} // namespace

// What a service manager, or whoever sets the variables, could hand over: only a TCP
// socket listening on 127.0.0.1 at the dispatcher's own port is taken.
TEST(SocketActivationTest, Mismatch_DescriptorKinds_OnlyLoopbackListenerOnThePortTaken)
{
    const auto [listener, port] = boundSocket(SOCK_STREAM, INADDR_LOOPBACK, true);
    EXPECT_EQ(SocketActivation::mismatch(listener.get(), port), QString());
    EXPECT_NE(SocketActivation::mismatch(listener.get(), quint16(port + 1)), QString());
    const std::pair<UniqueFd, quint16> refused[] = {boundSocket(SOCK_STREAM, INADDR_LOOPBACK, false),
                                                    boundSocket(SOCK_DGRAM, INADDR_LOOPBACK, false),
                                                    boundSocket(SOCK_STREAM, INADDR_ANY, true)};
    for (const auto &[fd, itsPort] : refused)
        EXPECT_NE(SocketActivation::mismatch(fd.get(), itsPort), QString()) << itsPort;
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    const UniqueFd readEnd(pipeEnds[0]), writeEnd(pipeEnds[1]);
    EXPECT_NE(SocketActivation::mismatch(readEnd.get(), port), QString()) << "pipe";
    EXPECT_NE(SocketActivation::mismatch(-1, port), QString()) << "no descriptor";
}
