#pragma once

#include "common/PeerIdentity.h"

#include <QDeadlineTimer>
#include <QSslSocket>

class QTimer;

// The TLS socket of one accepted connection, carrying who holds its other end for as long
// as the connection lasts, so that every request on it is judged by the same answer.
// It also keeps the write deadline: what is queued for the client must all be taken within
// the write timeout of the moment the queue was last empty, or writeDeadlinePassed() is
// emitted, whether the writer blocks (a reply being written) or has returned (its tail
// still queued). Lives on its connection handler's thread and is used there only.
class ConnectionSocket : public QSslSocket
{
    Q_OBJECT
public:
    explicit ConnectionSocket(QObject *parent = nullptr);

    const PeerIdentity &peer() const { return m_oPeer; }
    void setPeer(PeerIdentity peer) { m_oPeer = std::move(peer); }

    // The identity behind a request's socket; unknown for any socket that is not a connection's.
    static PeerIdentity peerOf(const QTcpSocket *socket);

    void setWriteTimeout(int milliseconds) { m_iWriteTimeoutMs = milliseconds; }
    // Bytes written but not yet taken by the kernel, in clear and encrypted.
    qint64 queuedBytes() const { return bytesToWrite() + encryptedBytesToWrite(); }
    bool waitForBytesWritten(int msecs) override;

Q_SIGNALS:
    // The client has not taken its reply in time; the connection should end.
    void writeDeadlinePassed();

protected:
    qint64 writeData(const char *data, qint64 len) override;

private:
    void drained();
    void overdue();

    PeerIdentity m_oPeer;
    QDeadlineTimer m_oWriteDeadline{QDeadlineTimer::Forever};
    QTimer *m_poWriteTimer; // child; fires the deadline while the handler's event loop runs
    int m_iWriteTimeoutMs = 30000;
};
