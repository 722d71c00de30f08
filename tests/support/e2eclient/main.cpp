// A TLS client that runs as another account for end-to-end tests: the server decides
// permissions by the account that owns the client's socket, so the test drives this
// process over stdin/stdout. Arguments: port [local address, local port]. Commands: "SEND <n>\n" followed by
// n raw request bytes (answered by "ANSWER <head bytes> <body bytes> <complete>\n", head and body);
// "RECONNECT\n"; "QUIT\n".
#include "support/TlsClient.h"

#include <QCoreApplication>
#include <QFile>
#include <unistd.h>

namespace {
QByteArray readExactly(QFile &input, qint64 size)
{
    QByteArray bytes;
    while (bytes.size() < size) {
        const QByteArray chunk = input.read(size - bytes.size());
        if (chunk.isEmpty())
            break;
        bytes += chunk;
    }
    return bytes;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    const quint16 port = static_cast<quint16>(arguments.value(1).toUInt());
    const QHostAddress localAddress(arguments.value(2));
    const quint16 localPort = static_cast<quint16>(arguments.value(3).toUInt());
    const auto connectClient = [&](TlsClient &client) {
        return client.connectTo(port, std::chrono::seconds(10), localAddress, localPort);
    };
    QFile input, output;
    // File descriptors, not stdio streams: a buffered answer would never reach the test.
    input.open(STDIN_FILENO, QIODevice::ReadOnly | QIODevice::Unbuffered);
    output.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    auto client = std::make_unique<TlsClient>();
    bool connected = connectClient(*client);
    while (true) {
        const QByteArray line = input.readLine().trimmed();
        if (line.isEmpty() || line == "QUIT")
            break;
        if (line == "RECONNECT") {
            client = std::make_unique<TlsClient>();
            connected = connectClient(*client);
            output.write(connected ? "OK\n" : "FAIL\n");
            continue;
        }
        const QByteArray request = readExactly(input, line.mid(5).toLongLong());
        HttpAnswer answer;
        if (connected && client->send(request))
            answer = client->readAnswer();
        output.write("ANSWER " + QByteArray::number(answer.headerBlock.size()) + ' ' +
                     QByteArray::number(answer.body.size()) + ' ' + (answer.complete ? "1" : "0") + '\n');
        output.write(answer.headerBlock);
        output.write(answer.body);
    }
    return 0;
}
