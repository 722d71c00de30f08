#pragma once

#include "TlsClient.h"

#include <QProcess>
#include <chrono>

class TestAccount;

// A keep-alive TLS client whose socket belongs to the given account (or to this process's
// account when none is given): the end-to-end client of module commands.
class AccountClient
{
public:
    // The client's end is bound to localAddress:localPort when an address is given.
    AccountClient(quint16 port, const TestAccount *account, const QString &localAddress = {},
                  quint16 localPort = 0);
    ~AccountClient();

    HttpAnswer request(const QByteArray &rawRequest,
                       std::chrono::milliseconds timeout = std::chrono::seconds(15));
    // The two halves of request(), so several clients can have requests in flight at once.
    void send(const QByteArray &rawRequest);
    HttpAnswer receive(std::chrono::milliseconds timeout = std::chrono::seconds(30));
    static QByteArray postRequest(const QByteArray &path, const QByteArray &headers = {},
                                  const QByteArray &body = {});
    // POST path with headers and a form body; Content-Length added.
    HttpAnswer post(const QByteArray &path, const QByteArray &headers = {}, const QByteArray &body = {});
    bool reconnect();
    qint64 pid() const { return m_oProcess.processId(); }

private:
    QByteArray readBytes(qint64 count, std::chrono::steady_clock::time_point deadline);
    QByteArray readLine(std::chrono::steady_clock::time_point deadline);

    QProcess m_oProcess;
    QByteArray m_oPending;
};
