#pragma once

#include "common/PeerIdentity.h"

#include <QTcpServer>
#include <memory>
#include <optional>

class CSslConnectionHandlerPool;
class HttpRequestHandler;
class QSettings;

// The TCP server on 127.0.0.1: picks its port (root takes the configured one as the
// dispatcher, from the service manager when that holds it, every other account the first
// free one above it) and hands each accepted connection to a pooled handler. Lives on the
// listener thread.
class CSslListener : public QTcpServer
{
    Q_OBJECT
public:
    CSslListener(QSettings *settings, HttpRequestHandler *requestHandler, QObject *parent);
    ~CSslListener() override;

Q_SIGNALS:
    void handleConnection(int socketDescriptor, const std::optional<PeerIdentity> &peer,
                          bool heldForOtherAccount);

protected:
    void incomingConnection(qintptr socketDescriptor) override;

private:
    bool adoptActivatedSocket(quint16 port, bool dispatcher);
    void bindUserPort(quint16 port);
    void becomeDispatcher(quint16 port);
    bool listenWithBackoff(quint16 port);
    void answerTooManyConnections(qintptr socketDescriptor);
    void refuseOtherAccount(qintptr socketDescriptor, const QString &account);

    std::unique_ptr<CSslConnectionHandlerPool> m_poPool; // lives on the listener thread
};
