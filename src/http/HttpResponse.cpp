#include "HttpResponse.h"

#include <QAbstractSocket>
#include <QFileDevice>
#include <QIODevice>
#include <QSslSocket>
#include <QTcpSocket>

HttpResponse::HttpResponse(QIODevice *device) : m_pDevice(device) {}

HttpResponse::~HttpResponse() = default;

void HttpResponse::setHeader(const QByteArray &name, const QByteArray &value)
{
    m_oHeaders.insert(name, value);
}

void HttpResponse::setStatus(qint32 statusCode, const QByteArray &statusText)
{
    m_iStatusCode = statusCode;
    m_oStatusText = statusText;
}

void HttpResponse::setCookie(const HttpCookie &cookie)
{
    if (!cookie.name().isEmpty())
        m_oCookies.insert(cookie.name(), cookie);
}

void HttpResponse::clearCookies()
{
    m_oCookies.clear();
}

QTcpSocket *HttpResponse::socket() const
{
    return qobject_cast<QTcpSocket *>(m_pDevice);
}

void HttpResponse::write(const QByteArray &data, bool lastPart)
{
    // Anything after the last part would be read as the start of the next reply.
    if (m_bSentLastPart)
        return;
    if (!m_bSentHeaders) {
        chooseFraming(lastPart, data.size());
        writeHeaders();
    }
    if (!data.isEmpty()) {
        if (m_bChunkedMode)
            sendAll(QByteArray::number(data.size(), 16) + "\r\n" + data + "\r\n");
        else
            sendAll(data);
    }
    if (lastPart) {
        if (m_bChunkedMode)
            sendAll("0\r\n\r\n");
        flushDevice();
        m_bSentLastPart = true;
    }
}

void HttpResponse::chooseFraming(bool lastPart, qsizetype dataSize)
{
    if (lastPart) {
        setHeader("Content-Length", QByteArray::number(dataSize));
        return;
    }
    const auto connection = m_oHeaders.constFind("Connection");
    const QByteArray value =
        connection != m_oHeaders.constEnd() ? connection.value() : m_oHeaders.value("connection");
    // A reply that closes the connection ends with it, so it needs no framing.
    if (value.toLower() != "close") {
        setHeader("Transfer-Encoding", "chunked");
        m_bChunkedMode = true;
    }
}

void HttpResponse::writeHeaders()
{
    QByteArray block = "HTTP/1.1 " + QByteArray::number(m_iStatusCode) + ' ' + m_oStatusText + "\r\n";
    for (auto it = m_oHeaders.cbegin(); it != m_oHeaders.cend(); ++it)
        block += it.key() + ": " + it.value() + "\r\n";
    for (const HttpCookie &cookie : std::as_const(m_oCookies))
        block += "Set-Cookie: " + cookie.toHeaderValue() + "\r\n";
    block += "\r\n";
    sendAll(block);
    flushDevice();
    m_bSentHeaders = true;
}

bool HttpResponse::sendAll(const QByteArray &data)
{
    if (!m_pDevice)
        return false;
    const char *cursor = data.constData();
    qint64 remaining = data.size();
    while (m_pDevice->isOpen() && remaining > 0) {
        // Unbounded here: a slow reader must get the whole body; the connection's write
        // deadline or its disconnect ends the wait.
        while (queuedBytes() > kMaxQueuedBytes) {
            if (!m_pDevice->waitForBytesWritten(-1))
                return false;
        }
        // In pieces, so that a large body is never copied whole into the connection's queue.
        const qint64 written = m_pDevice->write(cursor, qMin(remaining, kMaxQueuedBytes));
        // A device that accepts nothing would keep this loop spinning.
        if (written <= 0)
            return false;
        cursor += written;
        remaining -= written;
    }
    return remaining == 0;
}

qint64 HttpResponse::queuedBytes() const
{
    // A TLS socket keeps what it has encrypted apart from what it has not yet.
    const auto *tls = qobject_cast<const QSslSocket *>(m_pDevice);
    return m_pDevice->bytesToWrite() + (tls ? tls->encryptedBytesToWrite() : 0);
}

void HttpResponse::flushDevice()
{
    if (!m_pDevice)
        return;
    if (auto *socket = qobject_cast<QAbstractSocket *>(m_pDevice))
        socket->flush();
    else if (auto *file = qobject_cast<QFileDevice *>(m_pDevice))
        file->flush();
}
