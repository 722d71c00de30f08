#include "TlsClient.h"

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QTcpServer>

using Clock = std::chrono::steady_clock;

TlsClient::TlsClient(const QString &caFile)
{
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (!caFile.isEmpty()) {
        configuration.setCaCertificates(QSslCertificate::fromPath(caFile));
        configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    } else {
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
    }
    m_oSocket.setSslConfiguration(configuration);
}

bool TlsClient::connectTo(quint16 port, std::chrono::milliseconds timeout, const QHostAddress &localAddress,
                          quint16 localPort)
{
    if (!localAddress.isNull() && !m_oSocket.bind(localAddress, localPort))
        return false;
    m_oSocket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    if (!m_oSocket.waitForEncrypted(static_cast<int>(timeout.count())))
        return false;
    return true;
}

bool TlsClient::send(const QByteArray &bytes)
{
    m_oSocket.write(bytes);
    return m_oSocket.waitForBytesWritten(10000) || m_oSocket.bytesToWrite() == 0;
}

bool TlsClient::fill(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return false;
    if (m_oSocket.bytesAvailable() == 0 && !m_oSocket.waitForReadyRead(static_cast<int>(left)))
        return false;
    m_oBuffer += m_oSocket.readAll();
    return true;
}

bool TlsClient::parseHead(HttpAnswer &answer)
{
    const qsizetype end = m_oBuffer.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    answer.headerBlock = m_oBuffer.left(end + 4);
    m_oBuffer.remove(0, end + 4);
    answer.splitHeaderBlock();
    return true;
}

bool TlsClient::readBody(HttpAnswer &answer, Clock::time_point deadline)
{
    if (answer.headers.contains("Content-Length")) {
        const qsizetype length = answer.headers.value("Content-Length").toLongLong();
        while (m_oBuffer.size() < length) {
            if (!fill(deadline))
                return false;
        }
        answer.body = m_oBuffer.left(length);
        m_oBuffer.remove(0, length);
        return true;
    }
    if (answer.headers.value("Transfer-Encoding") == "chunked") {
        while (!m_oBuffer.contains("0\r\n\r\n")) {
            if (!fill(deadline))
                return false;
        }
        answer.body = m_oBuffer; // raw chunked bytes; tests assert on them exactly
        m_oBuffer.clear();
        return true;
    }
    while (m_oSocket.state() == QAbstractSocket::ConnectedState && fill(deadline)) {
    }
    answer.body = m_oBuffer;
    m_oBuffer.clear();
    return true;
}

HttpAnswer TlsClient::readAnswer(std::chrono::milliseconds timeout)
{
    HttpAnswer answer;
    const Clock::time_point deadline = Clock::now() + timeout;
    while (!parseHead(answer)) {
        if (!fill(deadline))
            return answer;
    }
    answer.complete = readBody(answer, deadline);
    return answer;
}

QByteArray TlsClient::readUntilClosed(std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (m_oSocket.state() != QAbstractSocket::UnconnectedState && Clock::now() < deadline) {
        m_oSocket.waitForReadyRead(50);
        m_oBuffer += m_oSocket.readAll();
    }
    m_oBuffer += m_oSocket.readAll();
    QByteArray all = m_oBuffer;
    m_oBuffer.clear();
    return all;
}

bool TlsClient::waitForClosed(std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    while (m_oSocket.state() != QAbstractSocket::UnconnectedState) {
        if (Clock::now() >= deadline)
            return false;
        m_oSocket.waitForReadyRead(50);
        m_oBuffer += m_oSocket.readAll();
    }
    return true;
}

HttpAnswer TlsClient::post(quint16 port, const QByteArray &path, const QByteArray &extraHeaders,
                           const QByteArray &body)
{
    TlsClient client;
    if (!client.connectTo(port))
        return {};
    client.send("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders +
                "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body);
    return client.readAnswer();
}

quint16 findFreePortPair()
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        QTcpServer first;
        if (!first.listen(QHostAddress::LocalHost, 0))
            continue;
        const quint16 port = first.serverPort();
        if (port >= 65530)
            continue;
        QTcpServer second;
        if (second.listen(QHostAddress::LocalHost, static_cast<quint16>(port + 1)))
            return port;
    }
    return 0;
}
