#include "SocketActivation.h"
#include "common/UniqueFd.h"
#include "logging/LogStatement.h"

#include <QByteArray>
#include <arpa/inet.h>
#include <atomic>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>

namespace {
constexpr int kFirstPassedFd = 3;
// Written once by claimFromEnvironment on the main thread before other threads start,
// taken once on the listener thread.
std::atomic<int> g_iClaimedFd{-1};
std::atomic<int> g_iPassedCount{0};

bool isSocket(int fd)
{
    struct stat status = {};
    return ::fstat(fd, &status) == 0 && S_ISSOCK(status.st_mode);
}

int intOption(int fd, int option)
{
    int value = 0;
    socklen_t length = sizeof(value);
    return ::getsockopt(fd, SOL_SOCKET, option, &value, &length) == 0 ? value : -1;
}
} // namespace

void SocketActivation::claimFromEnvironment()
{
    const QByteArray pid = qgetenv("LISTEN_PID");
    bool numeric = false;
    if (pid.isEmpty() || pid.toLongLong(&numeric) != ::getpid() || !numeric)
        return;
    const int count = qgetenv("LISTEN_FDS").toInt();
    qunsetenv("LISTEN_PID");
    qunsetenv("LISTEN_FDS");
    qunsetenv("LISTEN_FDNAMES");
    // A descriptor 3 that is no socket was not passed to us: it is left alone, never closed.
    if (count < 1 || !isSocket(kFirstPassedFd))
        return;
    ::fcntl(kFirstPassedFd, F_SETFD, FD_CLOEXEC);
    g_iPassedCount.store(count);
    g_iClaimedFd.store(kFirstPassedFd);
}

qintptr SocketActivation::takeListeningSocket(quint16 port, bool dispatcher)
{
    UniqueFd fd(g_iClaimedFd.exchange(-1));
    if (!fd.isValid())
        return -1;
    QString why = mismatch(fd.get(), port);
    if (g_iPassedCount.load() != 1)
        why = QStringLiteral("%1 descriptors passed, one expected").arg(g_iPassedCount.load());
    else if (!dispatcher)
        why = QStringLiteral("only the server of the system account takes the dispatcher's port");
    if (!why.isEmpty()) {
        VYR_LOG_SERVER(Warning) << "Socket from the service manager ignored: " << why;
        return -1;
    }
    VYR_LOG_SERVER(Info) << "Listening socket taken over from the service manager";
    return fd.release();
}

bool SocketActivation::isHolding(quint16 port)
{
    const int fd = g_iClaimedFd.load();
    return fd >= 0 && mismatch(fd, port).isEmpty();
}

QString SocketActivation::mismatch(int fd, quint16 port)
{
    if (intOption(fd, SO_TYPE) != SOCK_STREAM)
        return QStringLiteral("not a stream socket");
    if (intOption(fd, SO_ACCEPTCONN) != 1)
        return QStringLiteral("not listening");
    sockaddr_in address = {};
    socklen_t length = sizeof(address);
    if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0 ||
        length != sizeof(address) || address.sin_family != AF_INET ||
        intOption(fd, SO_PROTOCOL) != IPPROTO_TCP)
        return QStringLiteral("not an IPv4 TCP socket");
    if (ntohl(address.sin_addr.s_addr) != INADDR_LOOPBACK || ntohs(address.sin_port) != port)
        return QStringLiteral("bound to another address than 127.0.0.1:%1").arg(port);
    return {};
}
