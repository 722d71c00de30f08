#include "CSslConnectionHandler.h"

#include "OtherAccountsShare.h"
#include "PeerIdentifier.h"
#include "TlsMaterialCache.h"
#include "http/ConnectionSocket.h"
#include "http/HttpRequest.h"
#include "http/HttpRequestHandler.h"
#include "http/HttpResponse.h"
#include "logging/LogStatement.h"
#include "settings/CSettings.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QScopedValueRollback>
#include <QSettings>
#include <QSslSocket>
#include <QStandardPaths>
#include <QThread>
#include <QTimer>

namespace {
constexpr char kEntityTooLarge[] =
    "HTTP/1.1 413 entity too large\r\nConnection: close\r\n\r\n413 Entity too large\r\n";
} // namespace

CSslConnectionHandler::CSslConnectionHandler(QSettings *settings, HttpRequestHandler *requestHandler,
                                             std::shared_ptr<OtherAccountsShare> otherAccounts)
    : m_poSettings(settings), m_poRequestHandler(requestHandler), m_poSocket(new ConnectionSocket(this)),
      m_poReadTimer(new QTimer(this)), m_poRequestTimer(new QTimer(this)),
      m_poOtherAccounts(std::move(otherAccounts)), m_poThread(new QThread())
{
    m_poSocket->setPeerVerifyMode(QSslSocket::VerifyNone);
    m_poReadTimer->setSingleShot(true);
    m_poRequestTimer->setSingleShot(true);
    connect(m_poSocket, &QSslSocket::readyRead, this, &CSslConnectionHandler::read);
    connect(m_poSocket, &QSslSocket::sslErrors, this, &CSslConnectionHandler::sslErrors);
    connect(m_poSocket, &QSslSocket::errorOccurred, this, &CSslConnectionHandler::error);
    connect(m_poSocket, &QSslSocket::disconnected, this, &CSslConnectionHandler::disconnected);
    connect(m_poReadTimer, &QTimer::timeout, this, &CSslConnectionHandler::readTimeout);
    connect(m_poRequestTimer, &QTimer::timeout, this, &CSslConnectionHandler::requestTimeout);
    connect(m_poSocket, &ConnectionSocket::writeDeadlinePassed, this, &CSslConnectionHandler::writeTimeout);
    connect(m_poThread, &QThread::finished, m_poThread, &QObject::deleteLater);
    m_oLastRequestDir = lastRequestDirectory();
    // Read once per handler: the parser's limits hold for the handler's life.
    CSettings *serverSettings = CSettings::instance();
    m_iMaxRequestSize = serverSettings->ReadMaxRequestSize();
    m_iMaxMultiPartSize = serverSettings->ReadMaxMultiPartSize();
    m_iReadTimeout = serverSettings->ReadReadTimeout();
    m_iHandshakeTimeout = serverSettings->ReadHandshakeTimeout();
    m_iRequestTimeout = serverSettings->ReadRequestTimeout();
    m_poSocket->setWriteTimeout(serverSettings->ReadWriteTimeout());
    m_iSendBufferSize = serverSettings->ReadSendBufferSize();
    // Room for the largest line the parser accepts plus one byte, so an over-long line
    // reaches the parser (and its 413) instead of stalling a full buffer.
    m_iReadBufferLimit = qMax<qint64>(serverSettings->ReadMaxRequestSize(), 65536) + 1;
    m_poSocket->setReadBufferSize(m_iReadBufferLimit);
    moveToThread(m_poThread);
    m_poThread->start();
    VYR_LOG_SERVER(Debug) << "constructed";
}

CSslConnectionHandler::~CSslConnectionHandler()
{
    m_poSocket->abort();
    m_poReadTimer->stop();
    leaveOtherAccountsShare();
    m_poThread->quit();
    VYR_LOG_SERVER(Debug) << "destroyed";
}

QString CSslConnectionHandler::lastRequestDirectory()
{
    QString directory = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    if (directory.endsWith(QLatin1Char('/')) || directory.endsWith(QLatin1Char('\\')))
        directory.chop(1);
    const qsizetype separator = directory.lastIndexOf(QDir::separator());
    if (separator >= 0)
        directory.truncate(separator);
    VYR_LOG_SERVER(Info) << "Last request timestamp: " << directory;
    if (QDir(directory).exists())
        VYR_LOG_SERVER(Info) << "Directory already exists.";
    else if (QDir().mkpath(directory))
        VYR_LOG_SERVER(Info) << "Directory created successfully.";
    else
        VYR_LOG_SERVER(Error) << "Failed to create directory.";
    return directory;
}

void CSslConnectionHandler::handleConnection(int socketDescriptor, const std::optional<PeerIdentity> &peer,
                                             bool heldForOtherAccount)
{
    VYR_LOG_SERVER(Debug) << "handle new connection";
    m_bBusy.store(true);
    m_bHoldsOtherAccountsShare = heldForOtherAccount;
    m_poReadTimer->stop();
    m_poRequestTimer->stop();
    m_poCurrentRequest.reset();
    m_poSocket->setPeer(PeerIdentity());
    // A plain connect attempt puts a socket that served TLS before back into plain
    // mode, so it can take over the next descriptor.
    m_poSocket->connectToHost(QString(), 0, QIODevice::ReadWrite, QAbstractSocket::AnyIPProtocol);
    m_poSocket->abort();
    if (!m_poSocket->setSocketDescriptor(socketDescriptor, QAbstractSocket::ConnectedState,
                                         QIODevice::ReadWrite)) {
        VYR_LOG_SERVER(Error) << "cannot initialize socket: " << m_poSocket->errorString();
        return;
    }
    // A reply leaves in more than one write (head, then body); without this, Nagle's
    // algorithm and the client's delayed ACK hold every keep-alive answer for ~40 ms.
    m_poSocket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    // Left to itself the kernel grows a loopback connection's buffer to megabytes, all of
    // it held for a client that never reads.
    m_poSocket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, m_iSendBufferSize);
    // Before TLS, so that no request on this connection is read, let alone served, before
    // its client is known. The handler's other events wait meanwhile (at most the
    // dispatcher's deadline), so nothing re-enters this connection.
    m_poSocket->setPeer(peer ? *peer : PeerIdentifier::identify(*m_poSocket));
    if (admitPeer() && configureTls())
        encrypt();
}

bool CSslConnectionHandler::admitPeer()
{
    const PeerIdentity &peer = m_poSocket->peer();
    if (peer.onServerAccount || m_bHoldsOtherAccountsShare)
        return true;
    m_bHoldsOtherAccountsShare = m_poOtherAccounts->tryEnter();
    if (m_bHoldsOtherAccountsShare)
        return true;
    // Only when the kernel could not name the account to the listener.
    VYR_LOG_SERVER(Warning) << "Connection refused: other accounts hold their share of the handlers; port "
                            << m_poSocket->peerPort() << ", account " << peer.account;
    m_poSocket->abort();
    return false;
}

void CSslConnectionHandler::leaveOtherAccountsShare()
{
    if (m_bHoldsOtherAccountsShare)
        m_poOtherAccounts->leave();
    m_bHoldsOtherAccountsShare = false;
}

void CSslConnectionHandler::encrypt()
{
    m_poSocket->startServerEncryption();
    // Blocking is safe: the handler serves no one else meanwhile, and the wait is bounded.
    // A failed handshake arrives as sslErrors/error and a disconnect.
    if (m_poSocket->waitForEncrypted(m_iHandshakeTimeout)) {
        restartReadTimer();
        return;
    }
    if (m_poSocket->state() == QAbstractSocket::ConnectedState)
        closeSlowConnection("handshake");
}

void CSslConnectionHandler::closeSlowConnection(const char *deadline)
{
    VYR_LOG_SERVER(Info) << "The " << deadline << " deadline passed; closing the connection from port "
                         << m_poSocket->peerPort() << ", account " << m_poSocket->peer().account;
    // The request stays: a write deadline passes while the request is being served.
    m_poSocket->abort();
}

bool CSslConnectionHandler::configureTls()
{
    // A copy of the shared snapshot: the key was decrypted when the files last changed.
    const std::shared_ptr<const TlsMaterialCache::Snapshot> snapshot = TlsMaterialCache::instance().current();
    // The handshake could only fail; the files' state was logged once when it changed.
    if (!snapshot->serves) {
        m_poSocket->disconnectFromHost();
        return false;
    }
    if (snapshot->configuration.ciphers().isEmpty()) {
        m_poSocket->disconnectFromHost();
        VYR_LOG_SERVER(Error) << "EnabledCipherList is empty";
        return false;
    }
    m_poSocket->setSslConfiguration(snapshot->configuration);
    return true;
}

void CSslConnectionHandler::restartReadTimer()
{
    m_poReadTimer->start(m_iReadTimeout);
}

bool CSslConnectionHandler::canFeedRequest() const
{
    if (m_poSocket->bytesAvailable() <= 0)
        return false;
    if (m_poCurrentRequest && m_poCurrentRequest->status() == HttpRequest::WaitingForBody)
        return true;
    return m_poSocket->canReadLine() || m_poSocket->bytesAvailable() >= m_iReadBufferLimit;
}

void CSslConnectionHandler::read()
{
    VYR_LOG_SERVER(Debug) << "read input";
    // A reply waiting for the client to take it lets the socket read meanwhile, and its
    // readyRead lands here: the outer call serves what arrived once the reply is out.
    if (m_bReading)
        return;
    const QScopedValueRollback reading(m_bReading, true);
    // From a request's first byte, however slowly the rest arrives.
    if (!m_poRequestTimer->isActive() && m_poSocket->bytesAvailable() > 0)
        m_poRequestTimer->start(m_iRequestTimeout);
    // Pipelined requests arrive in one burst: keep serving while whole lines are waiting.
    while (m_poSocket->state() == QAbstractSocket::ConnectedState && canFeedRequest()) {
        feedRequest();
        if (!m_poCurrentRequest)
            return;
        const HttpRequest::RequestStatus status = m_poCurrentRequest->status();
        if (status == HttpRequest::Aborted) {
            answerEntityTooLarge();
            return;
        }
        if (status != HttpRequest::Complete)
            return;
        serveCompleteRequest();
        if (m_poSocket->bytesAvailable() > 0)
            m_poRequestTimer->start(m_iRequestTimeout);
    }
}

void CSslConnectionHandler::feedRequest()
{
    if (!m_poCurrentRequest)
        m_poCurrentRequest = std::make_unique<HttpRequest>(m_iMaxRequestSize, m_iMaxMultiPartSize);
    while (canFeedRequest()) {
        m_poCurrentRequest->receive(*m_poSocket);
        const HttpRequest::RequestStatus status = m_poCurrentRequest->status();
        if (status == HttpRequest::WaitingForBody)
            restartReadTimer();
        if (status == HttpRequest::Complete || status == HttpRequest::Aborted)
            return;
    }
}

void CSslConnectionHandler::answerEntityTooLarge()
{
    VYR_LOG_SERVER(Warning) << "HTTP/1.1 413 entity too large - Connection: close";
    m_poRequestTimer->stop();
    m_poSocket->write(kEntityTooLarge);
    m_poSocket->disconnectFromHost();
    m_poCurrentRequest.reset();
}

void CSslConnectionHandler::serveCompleteRequest()
{
    m_poReadTimer->stop();
    m_poRequestTimer->stop();
    VYR_LOG_SERVER(Debug) << "received complete request";
    HttpRequest &request = *m_poCurrentRequest;
    HttpResponse response(m_poSocket);
    try {
        m_poRequestHandler->service(request, response);
    } catch (...) {
        VYR_LOG_SERVER(Error) << "An uncatched exception occurred in the request handler";
    }
    if (!response.hasSentLastPart())
        response.write(QByteArray(), true);
    if (request.header("Connection").compare("close", Qt::CaseInsensitive) == 0)
        m_poSocket->disconnectFromHost();
    else if (m_poSocket->state() == QAbstractSocket::ConnectedState)
        restartReadTimer();
    m_poCurrentRequest.reset();
    VYR_LOG_SERVER(Debug) << "request processed";
    if (response.statusCode() == 200 || response.statusCode() == 202)
        seveLastRequestTimestamp();
}

void CSslConnectionHandler::readTimeout()
{
    VYR_LOG_SERVER(Info) << "read timeout occurred";
    m_poSocket->disconnectFromHost();
    m_poCurrentRequest.reset();
}

void CSslConnectionHandler::requestTimeout()
{
    closeSlowConnection("request");
    m_poCurrentRequest.reset();
}

void CSslConnectionHandler::writeTimeout()
{
    closeSlowConnection("write");
}

void CSslConnectionHandler::disconnected()
{
    VYR_LOG_SERVER(Debug) << "disconnected";
    m_poSocket->close();
    m_poReadTimer->stop();
    m_poRequestTimer->stop();
    leaveOtherAccountsShare();
    m_bBusy.store(false);
}

void CSslConnectionHandler::sslErrors(const QList<QSslError> &errors)
{
    for (const QSslError &sslError : errors)
        VYR_LOG_SERVER(Warning) << "SslError: " << sslError.errorString();
}

void CSslConnectionHandler::error(QAbstractSocket::SocketError socketError)
{
    VYR_LOG_SERVER(Warning) << "SocketError=" << static_cast<int>(socketError);
}

void CSslConnectionHandler::seveLastRequestTimestamp() const
{
    const QString path = m_oLastRequestDir + "/.last_vyr_req";
    // Written on every served request, so no temporary file and no sync to disk. Handlers
    // write concurrently: opened without truncation and written in one call, a reader sees
    // one whole timestamp (they all have the same width), never an empty file.
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite)) {
        VYR_LOG_SERVER(Warning) << "Cannot create file: " << path;
        return;
    }
    const QByteArray timestamp = QByteArray::number(QDateTime::currentMSecsSinceEpoch());
    if (file.write(timestamp) == timestamp.size())
        file.resize(timestamp.size());
}
