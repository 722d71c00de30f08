#include "CSslListener.h"

#include "CSslConnectionHandler.h"
#include "CSslConnectionHandlerPool.h"
#include "OtherAccountsShare.h"
#include "PeerIdentifier.h"
#include "SocketActivation.h"
#include "TlsMaterialCache.h"
#include "common/ProcessExit.h"
#include "logging/LogStatement.h"
#include "platform/ProcessUtilsExceptions.h"
#include "platform/ProcessUtilsFactory.h"
#include "settings/CSettings.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHostAddress>
#include <QThread>
#include <algorithm>
#include <chrono>
#include <unistd.h>

namespace {
// How long a dispatcher waits for its port; well inside the unit's stop timeout.
constexpr std::chrono::seconds kBindRetry(15);
constexpr char kTooManyConnections[] =
    "HTTP/1.1 503 too many connections\r\nConnection: close\r\n\r\nToo many connections\r\n";

bool runsOnSystemAccount(qint64 pid)
{
    try {
        return createProcessUtils()->isSystemProcess(pid);
    } catch (const BaseException &) {
        return false;
    }
}

qint64 ownerOfPort(quint16 port)
{
    try {
        return createProcessUtils()->getPidOfProcessAtPort(port);
    } catch (const BaseException &) {
        return 0;
    }
}
} // namespace

CSslListener::CSslListener(QSettings *settings, HttpRequestHandler *requestHandler, QObject *parent)
    : QTcpServer(parent), m_poPool(std::make_unique<CSslConnectionHandlerPool>(settings, requestHandler))
{
    const quint16 configuredPort = static_cast<quint16>(CSettings::instance()->ReadPort());
    const bool dispatcher = runsOnSystemAccount(QCoreApplication::applicationPid());
    if (!adoptActivatedSocket(configuredPort, dispatcher)) {
        if (dispatcher)
            becomeDispatcher(configuredPort);
        else
            bindUserPort(static_cast<quint16>(configuredPort + 1));
    }
    VYR_LOG_SERVER(Info) << "Listening on port " << serverPort();
    // A certificate or key that cannot serve is reported now rather than at the first page,
    // and the key is decrypted before the first connection waits for it.
    TlsMaterialCache::instance().current();
}

CSslListener::~CSslListener()
{
    close();
    m_poPool.reset();
    VYR_LOG_SERVER(Info) << "closed & destroyed";
}

bool CSslListener::adoptActivatedSocket(quint16 port, bool dispatcher)
{
    const qintptr descriptor = SocketActivation::takeListeningSocket(port, dispatcher);
    if (descriptor < 0)
        return false;
    if (setSocketDescriptor(descriptor))
        return true;
    VYR_LOG_SERVER(Warning) << "Cannot listen on the socket from the service manager: " << errorString();
    ::close(static_cast<int>(descriptor));
    return false;
}

void CSslListener::bindUserPort(quint16 port)
{
    if (listen(QHostAddress::LocalHost, port)) {
        VYR_LOG_SERVER(Debug) << "Service is listening";
        return;
    }
    // Endless by design: the port wraps at 65536, and port 0 lets the system choose.
    while (!listen(QHostAddress::LocalHost, port)) {
        VYR_LOG_SERVER(Info) << "Cannot bind on port " << port << ": " << errorString()
                             << " trying next one...";
        port = static_cast<quint16>(port + 1);
    }
}

void CSslListener::becomeDispatcher(quint16 port)
{
    if (listen(QHostAddress::LocalHost, port)) {
        VYR_LOG_SERVER(Debug) << "Service is listening";
        return;
    }
    if (const qint64 owner = ownerOfPort(port); owner != 0 && !runsOnSystemAccount(owner)) {
        VYR_LOG_SERVER(Warning)
            << "Dispatcher is runing on another user. It will be closed and run on system account!";
        createProcessUtils()->ShutdownProcess(owner);
    }
    if (!listenWithBackoff(port)) {
        if (QThread::currentThread()->isInterruptionRequested())
            return; // the server is stopping anyway
        VYR_LOG_SERVER(Error) << "Port " << port << " is still held by another process after "
                              << kBindRetry.count() << " s; exiting, for the service manager to start"
                              << " the dispatcher again";
        terminateProcess(1);
    }
    VYR_LOG_SERVER(Info) << "Current server will be a dispatcher service for other servers";
}

// The holder may be a dispatcher on its way out or a process that took the port by chance:
// waiting a while beats failing at once, and an unbounded wait would hide the fault.
bool CSslListener::listenWithBackoff(quint16 port)
{
    const QDeadlineTimer deadline(kBindRetry);
    std::chrono::milliseconds pause(100);
    bool logged = false;
    while (!listen(QHostAddress::LocalHost, port)) {
        if (deadline.hasExpired() || QThread::currentThread()->isInterruptionRequested())
            return false;
        if (!logged)
            VYR_LOG_SERVER(Warning) << "Port " << port << " is held by process " << ownerOfPort(port) << " ("
                                    << errorString() << "); retrying for up to " << kBindRetry.count()
                                    << " s";
        logged = true;
        QThread::msleep(static_cast<unsigned long>(pause.count()));
        pause = std::min(pause * 2, std::chrono::milliseconds(2000));
    }
    return true;
}

void CSslListener::incomingConnection(qintptr socketDescriptor)
{
    VYR_LOG_SERVER(Debug) << "New connection";
    // Decided here when the kernel can tell, so that a connection beyond the other accounts'
    // share never holds a handler, not even while it is identified.
    const std::optional<PeerIdentity> peer = PeerIdentifier::identifyByKernel(socketDescriptor);
    const bool otherAccount =
        peer && peer->account != PeerIdentity::unknownAccount() && !peer->onServerAccount;
    if (otherAccount && !m_poPool->otherAccounts().tryEnter()) {
        refuseOtherAccount(socketDescriptor, peer->account);
        return;
    }
    CSslConnectionHandler *handler = m_poPool->getConnectionHandler();
    if (!handler) {
        if (otherAccount)
            m_poPool->otherAccounts().leave();
        answerTooManyConnections(socketDescriptor);
        return;
    }
    // Queued: the handler takes the descriptor over on its own thread.
    connect(this, &CSslListener::handleConnection, handler, &CSslConnectionHandler::handleConnection);
    Q_EMIT handleConnection(static_cast<int>(socketDescriptor), peer, otherAccount);
    disconnect(this, &CSslListener::handleConnection, handler, &CSslConnectionHandler::handleConnection);
}

void CSslListener::refuseOtherAccount(qintptr socketDescriptor, const QString &account)
{
    QTcpSocket socket;
    socket.setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite);
    // Closed rather than queued: a waiting connection would need a queue and a deadline of
    // its own, while a refused client of another account may simply try again.
    VYR_LOG_SERVER(Warning) << "Connection refused: other accounts hold their share of the handlers; port "
                            << socket.peerPort() << ", account " << account;
    socket.abort();
}

void CSslListener::answerTooManyConnections(qintptr socketDescriptor)
{
    VYR_LOG_SERVER(Warning) << "HTTP/1.1 503 - Too many incoming connections";
    auto *socket = new QTcpSocket(this);
    socket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState, QIODevice::ReadWrite);
    connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
    socket->write(kTooManyConnections);
    socket->flush();
    socket->disconnectFromHost();
    socket->deleteLater();
}
