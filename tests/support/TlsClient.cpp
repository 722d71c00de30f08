#include "TlsClient.h"

#include "TestAccount.h"

#include <QFile>
#include <QTcpServer>
#include <QTemporaryDir>

using Clock = std::chrono::steady_clock;

namespace {
// Another account may not enter the build tree: the relay runs from a copy it can read.
QString relayExecutable()
{
    static const QTemporaryDir directory;
    static const QString copy = [] {
        QFile::setPermissions(directory.path(), QFile::permissions(directory.path()) | QFile::ReadOther |
                                                    QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
        const QString target = directory.filePath(QStringLiteral("vyr-e2e-client"));
        QFile::copy(QStringLiteral(VYR_E2E_CLIENT_PATH), target);
        return target;
    }();
    return copy;
}
} // namespace

TlsClient::TlsClient(quint16 port, const TestAccount *account, const QString &localAddress, quint16 localPort)
{
    if (!account) {
        m_oSocket.setPeerVerifyMode(QSslSocket::VerifyNone);
        if (!localAddress.isEmpty() && !m_oSocket.bind(QHostAddress(localAddress), localPort))
            return;
        m_oSocket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        m_oSocket.waitForEncrypted(10000);
        return;
    }
    m_poDevice = &m_oRelay;
    account->runAs(m_oRelay);
    m_oRelay.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    m_oRelay.start(relayExecutable(), {QString::number(port), localAddress, QString::number(localPort)});
    const Clock::time_point deadline = Clock::now() + std::chrono::seconds(10);
    while (!m_oBuffer.contains('\n') && fill(deadline)) {
    }
    if (m_oBuffer.startsWith("connected\n"))
        m_oBuffer.remove(0, 10);
}

TlsClient::~TlsClient()
{
    if (m_oRelay.state() == QProcess::NotRunning)
        return;
    m_oRelay.closeWriteChannel(); // the relay's cue to end
    if (!m_oRelay.waitForFinished(5000))
        m_oRelay.kill();
}

bool TlsClient::isOpen() const
{
    return m_poDevice == &m_oRelay
               ? m_oRelay.state() != QProcess::NotRunning
               : m_oSocket.isEncrypted() && m_oSocket.state() == QAbstractSocket::ConnectedState;
}

void TlsClient::send(const QByteArray &bytes)
{
    m_poDevice->write(bytes);
    m_poDevice->waitForBytesWritten(10000);
}

bool TlsClient::fill(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0 || (m_poDevice->bytesAvailable() == 0 && !m_poDevice->waitForReadyRead(int(left))))
        return false;
    m_oBuffer += m_poDevice->readAll();
    return true;
}

HttpAnswer TlsClient::readAnswer(std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    HttpAnswer answer;
    while (!answer.takeHead(m_oBuffer)) {
        if (!fill(deadline))
            return {};
    }
    if (!answer.headers.contains("Content-Length")) {
        answer.body = readUntilClosed(timeout);
        return answer;
    }
    const qsizetype length = answer.headers.value("Content-Length").toLongLong();
    while (m_oBuffer.size() < length && fill(deadline)) {
    }
    answer.body = m_oBuffer.left(length);
    m_oBuffer.remove(0, answer.body.size());
    return answer;
}

QByteArray TlsClient::readUntilClosed(std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (fill(deadline)) {
    }
    return std::exchange(m_oBuffer, {});
}

quint16 findFreePortPair()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpServer first;
        QTcpServer second;
        if (first.listen(QHostAddress::LocalHost, 0) && first.serverPort() < 65530 &&
            second.listen(QHostAddress::LocalHost, static_cast<quint16>(first.serverPort() + 1)))
            return first.serverPort();
    }
    return 0;
}
