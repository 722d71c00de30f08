// The relay of a test client of another account: the server judges a client by the account
// that owns its socket, so the test runs this as that account and talks through its standard
// input and output. Arguments: port, local address (may be empty), local port. Writes
// "connected\n" once the handshake is done, then relays bytes both ways until either side
// closes.
#include <QCoreApplication>
#include <QFile>
#include <QSslSocket>
#include <poll.h>
#include <unistd.h>

int main(int argc, char **argv)
{
    const QCoreApplication application(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QSslSocket socket;
    socket.setPeerVerifyMode(QSslSocket::VerifyNone);
    const QHostAddress localAddress(arguments.value(2));
    if (!localAddress.isNull() && !socket.bind(localAddress, arguments.value(3).toUShort()))
        return 1;
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), arguments.value(1).toUShort());
    if (!socket.waitForEncrypted(10000))
        return 1;
    QFile output; // unbuffered: an answer must reach the test at once
    output.open(STDOUT_FILENO, QIODevice::WriteOnly | QIODevice::Unbuffered);
    output.write("connected\n");
    pollfd input{STDIN_FILENO, POLLIN, 0};
    char buffer[65536];
    while (socket.state() == QAbstractSocket::ConnectedState) {
        if (::poll(&input, 1, 0) > 0) {
            const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (got <= 0)
                break;
            socket.write(buffer, got);
            socket.flush();
        }
        socket.waitForReadyRead(10);
        output.write(socket.readAll());
    }
    output.write(socket.readAll());
    return 0;
}
