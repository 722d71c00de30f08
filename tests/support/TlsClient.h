#pragma once

#include "HttpAnswer.h"

#include <QProcess>
#include <QSslSocket>
#include <chrono>

class TestAccount;

// A keep-alive TLS client for end-to-end tests: exact bytes out, exact bytes in; it trusts
// any server certificate. The server judges a client by the account that owns its socket, so
// a client of another account talks through a relay process run as that account.
class TlsClient
{
public:
    // Connects (from localAddress:localPort when an address is given) before it returns.
    explicit TlsClient(quint16 port, const TestAccount *account = nullptr, const QString &localAddress = {},
                       quint16 localPort = 0);
    ~TlsClient();

    // Whether the handshake succeeded and the server has not closed the connection since.
    bool isOpen() const;
    void send(const QByteArray &bytes);
    // One answer: a Content-Length body, or everything until the server closes.
    HttpAnswer readAnswer(std::chrono::milliseconds timeout = std::chrono::seconds(15));
    QByteArray readUntilClosed(std::chrono::milliseconds timeout = std::chrono::seconds(15));
    HttpAnswer post(const QByteArray &path, const QByteArray &headers = {})
    {
        send(postRequest(path, headers));
        return readAnswer();
    }
    qint64 relayPid() const { return m_oRelay.processId(); }

    static QByteArray postRequest(const QByteArray &path, const QByteArray &headers = {})
    {
        return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers + "Content-Length: 0\r\n\r\n";
    }

private:
    bool fill(std::chrono::steady_clock::time_point deadline);

    QSslSocket m_oSocket;
    QProcess m_oRelay;
    QIODevice *m_poDevice = &m_oSocket; // the socket, or the relay's standard input and output
    QByteArray m_oBuffer;
};

// A loopback port that is free now, and whose next port is free too (a user's server
// takes the configured port + 1).
quint16 findFreePortPair();
