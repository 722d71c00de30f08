#pragma once

#include "HttpCookie.h"

#include <QByteArray>
#include <QMap>

class QIODevice;
class QTcpSocket;

// Status, headers and cookies of one reply, written in HTTP/1.1 form to the connection:
// with a Content-Length when the body comes in one call, chunked when it comes in several,
// or unframed when the reply closes the connection. Used on the connection's thread only.
class HttpResponse
{
public:
    // The device is the connection (a QSslSocket in the server); not owned.
    explicit HttpResponse(QIODevice *device);
    virtual ~HttpResponse();
    HttpResponse(const HttpResponse &) = delete;
    HttpResponse &operator=(const HttpResponse &) = delete;

    // No effect on the wire once the header block is out.
    void setHeader(const QByteArray &name, const QByteArray &value);
    void setStatus(qint32 statusCode, const QByteArray &statusText);
    // A cookie without a name is dropped.
    void setCookie(const HttpCookie &cookie);
    void clearCookies();

    void write(const QByteArray &data, bool lastPart = false);
    bool hasSentLastPart() const { return m_bSentLastPart; }

    qint32 statusCode() const { return m_iStatusCode; }
    QByteArray statusText() const { return m_oStatusText; }
    const QMap<QByteArray, QByteArray> &headers() const { return m_oHeaders; }
    const QMap<QByteArray, HttpCookie> &cookies() const { return m_oCookies; }

    QIODevice *device() const { return m_pDevice; }
    // The connection's socket, so a handler can identify the client end; null for other devices.
    QTcpSocket *socket() const;

    // More than this many queued bytes make a write wait for the connection to drain.
    static constexpr qint64 kMaxQueuedBytes = 262144;

private:
    void chooseFraming(bool lastPart, qsizetype dataSize);
    void writeHeaders();
    bool sendAll(const QByteArray &data);
    qint64 queuedBytes() const;
    void flushDevice();

    QMap<QByteArray, QByteArray> m_oHeaders;
    QIODevice *m_pDevice;
    qint32 m_iStatusCode = 200;
    QByteArray m_oStatusText = "OK";
    bool m_bSentHeaders = false;
    bool m_bSentLastPart = false;
    bool m_bChunkedMode = false;
    QMap<QByteArray, HttpCookie> m_oCookies;
};
