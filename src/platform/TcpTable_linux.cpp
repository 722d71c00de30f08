#include "TcpTable_linux.h"

#include "ProcFs_linux.h"

#include <algorithm>
#include <arpa/inet.h>
#include <optional>
#include <tuple>

namespace {

std::optional<quint32> parseHex(const QByteArray &text, qsizetype digits)
{
    if (text.size() != digits)
        return std::nullopt;
    bool ok = false;
    const quint32 value = text.toUInt(&ok, 16);
    return ok ? std::optional<quint32>(value) : std::nullopt;
}

// "0100007F:1F90": the address as the kernel's in-memory (network order) word, the port in host order.
bool parseEndpoint(const QByteArray &text, quint32 &address, quint16 &port)
{
    const qsizetype colon = text.indexOf(':');
    if (colon < 0)
        return false;
    const auto rawAddress = parseHex(text.left(colon), 8);
    const auto rawPort = parseHex(text.mid(colon + 1), 4);
    if (!rawAddress || !rawPort)
        return false;
    address = ntohl(*rawAddress);
    port = quint16(*rawPort);
    return true;
}

// "sl local rem st tx:rx tr:when retrnsmt uid timeout inode ..."
std::optional<TcpRow> parseRow(const QByteArray &line)
{
    const QList<QByteArray> fields = line.simplified().split(' ');
    if (fields.size() < 10 || !fields.at(0).endsWith(':'))
        return std::nullopt;
    TcpRow row;
    bool stateOk = false, uidOk = false, inodeOk = false;
    if (!parseEndpoint(fields.at(1), row.localAddress, row.localPort) ||
        !parseEndpoint(fields.at(2), row.remoteAddress, row.remotePort))
        return std::nullopt;
    row.state = fields.at(3).toInt(&stateOk, 16);
    row.uid = fields.at(7).toUInt(&uidOk);
    row.inode = fields.at(9).toULongLong(&inodeOk);
    if (!stateOk || !uidOk || !inodeOk)
        return std::nullopt;
    return row;
}

} // namespace

SysResult<QList<TcpRow>> TcpTable::read(const QString &procRoot)
{
    const auto text = ProcFs::readFile(procRoot + QStringLiteral("/net/tcp"));
    if (!text.ok())
        return SysResult<QList<TcpRow>>::failure(text.error);
    return SysResult<QList<TcpRow>>::success(parse(text.value));
}

QList<TcpRow> TcpTable::parse(const QByteArray &text)
{
    QList<TcpRow> rows;
    for (const QByteArray &line : text.split('\n')) {
        if (const auto row = parseRow(line))
            rows.append(*row);
    }
    // The kernel lists by hash bucket; callers expect endpoint order.
    std::stable_sort(rows.begin(), rows.end(), [](const TcpRow &a, const TcpRow &b) {
        return std::tie(a.localAddress, a.localPort, a.remoteAddress, a.remotePort) <
               std::tie(b.localAddress, b.localPort, b.remoteAddress, b.remotePort);
    });
    return rows;
}
