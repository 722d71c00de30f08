#pragma once

#include "SysResult.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <sys/types.h>

// One IPv4 TCP socket as the kernel lists it; addresses in host byte order.
struct TcpRow
{
    quint32 localAddress = 0;
    quint16 localPort = 0;
    quint32 remoteAddress = 0;
    quint16 remotePort = 0;
    int state = 0;
    uid_t uid = 0;
    quint64 inode = 0;
};

// The IPv4 socket table of <proc>/net/tcp, sorted by local then remote endpoint.
class TcpTable
{
public:
    static constexpr int kStateListen = 0x0A;

    static SysResult<QList<TcpRow>> read(const QString &procRoot);
    // Lines that do not look like socket rows are skipped.
    static QList<TcpRow> parse(const QByteArray &text);
};
