#include "ConnectionSocket.h"

#include <QTimer>

ConnectionSocket::ConnectionSocket(QObject *parent) : QSslSocket(parent), m_poWriteTimer(new QTimer(this))
{
    m_poWriteTimer->setSingleShot(true);
    connect(m_poWriteTimer, &QTimer::timeout, this, &ConnectionSocket::overdue);
    connect(this, &QSslSocket::encryptedBytesWritten, this, &ConnectionSocket::drained);
    connect(this, &QAbstractSocket::disconnected, this, &ConnectionSocket::drained);
}

PeerIdentity ConnectionSocket::peerOf(const QTcpSocket *socket)
{
    const auto *connection = qobject_cast<const ConnectionSocket *>(socket);
    return connection ? connection->peer() : PeerIdentity();
}

qint64 ConnectionSocket::writeData(const char *data, qint64 len)
{
    if (queuedBytes() == 0 && !m_poWriteTimer->isActive()) {
        m_oWriteDeadline.setRemainingTime(m_iWriteTimeoutMs);
        m_poWriteTimer->start(m_iWriteTimeoutMs);
    }
    return QSslSocket::writeData(data, len);
}

void ConnectionSocket::drained()
{
    if (queuedBytes() > 0 && state() == ConnectedState)
        return;
    m_oWriteDeadline = QDeadlineTimer(QDeadlineTimer::Forever);
    m_poWriteTimer->stop();
}

void ConnectionSocket::overdue()
{
    if (state() == ConnectedState && queuedBytes() > 0)
        Q_EMIT writeDeadlinePassed();
    else
        drained();
}

bool ConnectionSocket::waitForBytesWritten(int msecs)
{
    // The writer of a reply waits here with no event loop to run the timer, so the wait
    // ends at the deadline at the latest.
    const QDeadlineTimer wait(msecs);
    const bool deadlineFirst = m_oWriteDeadline < wait;
    if (QSslSocket::waitForBytesWritten(
            static_cast<int>((deadlineFirst ? m_oWriteDeadline : wait).remainingTime())))
        return true;
    if (deadlineFirst && m_oWriteDeadline.hasExpired())
        overdue();
    return false;
}
