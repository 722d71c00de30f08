// What the kernel hands back about processes and sockets: /proc/<pid>/stat, /proc/net/tcp
// and a sock_diag reply. A crafted or truncated text may fail a parse, never read outside it.
#include "FuzzSupport.h"
#include "platform/PeerSocketQuery_linux.h"
#include "platform/ProcFs_linux.h"
#include "platform/TcpTable_linux.h"

#include <algorithm>
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/socket.h>
#include <tuple>

namespace {

void checkTcpTable(const QByteArray &text)
{
    const QList<TcpRow> rows = TcpTable::parse(text);
    VYR_FUZZ_CHECK(rows.size() <= text.count('\n') + 1);
    VYR_FUZZ_CHECK(std::is_sorted(rows.cbegin(), rows.cend(), [](const TcpRow &a, const TcpRow &b) {
        return std::tie(a.localAddress, a.localPort, a.remoteAddress, a.remotePort) <
               std::tie(b.localAddress, b.localPort, b.remoteAddress, b.remotePort);
    }));
}

void checkSockDiagReply(FuzzedDataProvider &input)
{
    TcpConnectionEnds ends;
    ends.family = input.ConsumeBool() ? AF_INET : AF_INET6;
    ends.localPort = input.ConsumeIntegral<quint16>();
    ends.peerPort = input.ConsumeIntegral<quint16>();
    input.ConsumeData(ends.localAddress.data(), ends.localAddress.size());
    input.ConsumeData(ends.peerAddress.data(), ends.peerAddress.size());
    const auto sequence = input.ConsumeIntegral<quint32>();
    // The kernel's datagrams arrive aligned; so does this copy of one.
    const std::string reply = input.ConsumeRemainingBytesAsString();
    const auto result =
        PeerSocketQuery::parseReply(QByteArrayView(reply.data(), qsizetype(reply.size())), ends, sequence);
    VYR_FUZZ_CHECK(result.ok() || !result.value.has_value());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzedDataProvider input(data, size);
    switch (input.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
        ProcFs::parseStat(QByteArray::fromStdString(input.ConsumeRemainingBytesAsString()));
        break;
    case 1:
        checkTcpTable(QByteArray::fromStdString(input.ConsumeRemainingBytesAsString()));
        break;
    default:
        checkSockDiagReply(input);
        break;
    }
    return 0;
}
