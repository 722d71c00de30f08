#pragma once

#include "common/PeerIdentity.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QSslError>
#include <QTcpSocket>
#include <atomic>
#include <memory>
#include <optional>

class ConnectionSocket;
class HttpRequest;
class HttpRequestHandler;
class OtherAccountsShare;
class QSettings;
class QThread;
class QTimer;

// Serves one TLS connection at a time on a thread of its own: TLS set-up, request parsing,
// handing complete requests to the request handler, keep-alive, the connection's timeouts
// and deadlines, and the last-request stamp. Created on the listener thread, then moved to
// its own thread.
class CSslConnectionHandler : public QObject
{
    Q_OBJECT
public:
    CSslConnectionHandler(QSettings *settings, HttpRequestHandler *requestHandler,
                          std::shared_ptr<OtherAccountsShare> otherAccounts);
    ~CSslConnectionHandler() override;

    // Read and set by the pool under its mutex; cleared here when the connection ends.
    bool isBusy() const { return m_bBusy.load(); }
    void setBusy() { m_bBusy.store(true); }

    // The thread this handler serves on; it ends when the handler is destroyed.
    QThread *ownThread() const { return m_poThread; }

public Q_SLOTS:
    // peer: the client as the kernel named it to the listener, or nothing when it could not
    // (then the handler looks for the client's process). heldForOtherAccount: the listener
    // already counted the connection in the other accounts' share, which this handler leaves
    // when the connection ends.
    void handleConnection(int socketDescriptor, const std::optional<PeerIdentity> &peer,
                          bool heldForOtherAccount);

private Q_SLOTS:
    void readTimeout();
    void requestTimeout();
    void writeTimeout();
    void read();
    void disconnected();
    void sslErrors(const QList<QSslError> &errors);
    void error(QAbstractSocket::SocketError socketError);

private:
    bool admitPeer();
    void leaveOtherAccountsShare();
    void encrypt();
    void closeSlowConnection(const char *deadline);
    bool configureTls();
    bool canFeedRequest() const;
    void feedRequest();
    void answerEntityTooLarge();
    void serveCompleteRequest();
    void seveLastRequestTimestamp() const;
    void restartReadTimer();
    static QString lastRequestDirectory();

    QSettings *m_poSettings;                // not owned; read-only after start-up
    HttpRequestHandler *m_poRequestHandler; // not owned; service() is thread-safe
    ConnectionSocket *m_poSocket;           // child; lives on this handler's thread
    QTimer *m_poReadTimer;                  // child; lives on this handler's thread
    QTimer *m_poRequestTimer;               // child; runs from a request's first byte to its last
    std::shared_ptr<OtherAccountsShare> m_poOtherAccounts; // thread-safe; shared with the pool
    bool m_bHoldsOtherAccountsShare = false;               // this handler's thread only
    bool m_bReading = false;                               // this handler's thread only
    std::unique_ptr<HttpRequest> m_poCurrentRequest;       // this handler's thread only
    std::atomic<bool> m_bBusy{false};
    QString m_oLastRequestDir;
    QThread *m_poThread; // deletes itself when finished
    int m_iReadTimeout = 10000;
    int m_iHandshakeTimeout = 10000;
    int m_iRequestTimeout = 30000;
    int m_iSendBufferSize = 262144;
    qint32 m_iMaxRequestSize = 0;
    qint32 m_iMaxMultiPartSize = 0;
    qint64 m_iReadBufferLimit = 0;
};
