#pragma once

#include "HttpAnswer.h"

#include <QByteArray>
#include <QHostAddress>
#include <QMap>
#include <QSslSocket>
#include <chrono>
#include <memory>

// A raw TLS client for end-to-end tests: exact bytes out, exact bytes in. Trusts the
// given authority, or nothing when none is given (handshake errors then fail the test).
class TlsClient
{
public:
    explicit TlsClient(const QString &caFile = QString());

    // From the given local end when one is given (an address other than 127.0.0.1, say).
    bool connectTo(quint16 port, std::chrono::milliseconds timeout = std::chrono::seconds(10),
                   const QHostAddress &localAddress = {}, quint16 localPort = 0);
    bool send(const QByteArray &bytes);
    // Reads one answer (Content-Length, chunked, or until close).
    HttpAnswer readAnswer(std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Everything until the server closes the connection.
    QByteArray readUntilClosed(std::chrono::milliseconds timeout = std::chrono::seconds(15));
    bool waitForClosed(std::chrono::milliseconds timeout);

    // POST with the given path, headers and body on a fresh connection.
    static HttpAnswer post(quint16 port, const QByteArray &path, const QByteArray &extraHeaders = {},
                           const QByteArray &body = {});

private:
    bool fill(std::chrono::steady_clock::time_point deadline);
    bool parseHead(HttpAnswer &answer);
    bool readBody(HttpAnswer &answer, std::chrono::steady_clock::time_point deadline);

    QSslSocket m_oSocket;
    QByteArray m_oBuffer;
};

// A loopback port that is free now, and whose next port is free too (a user's server
// takes the configured port + 1).
quint16 findFreePortPair();
