#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

// Asks this machine's dispatcher which account owns a process (GET_USERNAME_FOR_PID), for a
// user server that may not read another account's processes. It blocks the calling thread
// until the deadline and runs none of that thread's other events: a connection handler
// asks, and letting its own socket's events in meanwhile would re-enter the request in use.
class DispatcherAccountQuery
{
public:
    static constexpr int kDeadlineMs = 2000;
    // An account text is short; an answer larger than this is none of the dispatcher's.
    static constexpr qsizetype kMaxAnswerSize = 4096;

    // The dispatcher listens on 127.0.0.1:port; its certificate must chain to caFile.
    DispatcherAccountQuery(quint16 port, QString caFile, int deadlineMs = kDeadlineMs);
    // The configured listener port and the local authority beside the server certificate.
    static DispatcherAccountQuery fromSettings();

    // "<UNKNOWN>" for every failure: it matches no account.
    QString askDispatcherForDomainAndUsernameForPID(qint64 pid) const;

    struct Answer
    {
        bool complete = false;
        QByteArray statusCode;
        std::optional<QString> account; // only in a complete 200 whose body reads as an account
    };
    static Answer parseAnswer(const QByteArray &bytes);

private:
    QByteArray exchange(const QByteArray &request) const;

    quint16 m_iPort;
    QString m_oCaFile;
    int m_iDeadlineMs;
};
