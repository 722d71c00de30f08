#include "AccountClient.h"

#include "TestAccount.h"

#include <QFile>
#include <QTemporaryDir>
#include <csignal>
#include <grp.h>
#include <unistd.h>

using Clock = std::chrono::steady_clock;

namespace {
// Another account may not enter the build tree: the client runs from a copy it can read.
QString clientExecutable()
{
    static QTemporaryDir directory;
    static const QString copy = [] {
        QFile::setPermissions(directory.path(), QFile::permissions(directory.path()) | QFile::ReadOther |
                                                    QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
        const QString target = directory.filePath(QStringLiteral("vyr-e2e-client"));
        QFile::copy(QStringLiteral(VYR_E2E_CLIENT_PATH), target);
        return target;
    }();
    return copy;
}
} // namespace

AccountClient::AccountClient(quint16 port, const TestAccount *account, const QString &localAddress,
                             quint16 localPort)
{
    if (account) {
        const uid_t uid = account->uid();
        const gid_t gid = account->gid();
        m_oProcess.setChildProcessModifier([uid, gid] {
            if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
                ::_exit(127);
        });
    }
    m_oProcess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments{QString::number(port)};
    if (!localAddress.isEmpty())
        arguments << localAddress << QString::number(localPort);
    m_oProcess.start(clientExecutable(), arguments);
    m_oProcess.waitForStarted(10000);
}

AccountClient::~AccountClient()
{
    if (m_oProcess.state() != QProcess::NotRunning) {
        m_oProcess.write("QUIT\n");
        if (!m_oProcess.waitForFinished(5000)) {
            ::kill(static_cast<pid_t>(m_oProcess.processId()), SIGKILL);
            m_oProcess.waitForFinished(5000);
        }
    }
}

QByteArray AccountClient::readBytes(qint64 count, Clock::time_point deadline)
{
    while (m_oPending.size() < count && Clock::now() < deadline) {
        m_oProcess.waitForReadyRead(50);
        m_oPending += m_oProcess.readAllStandardOutput();
    }
    const QByteArray bytes = m_oPending.left(count);
    m_oPending.remove(0, bytes.size());
    return bytes;
}

QByteArray AccountClient::readLine(Clock::time_point deadline)
{
    while (!m_oPending.contains('\n') && Clock::now() < deadline) {
        m_oProcess.waitForReadyRead(50);
        m_oPending += m_oProcess.readAllStandardOutput();
    }
    const qsizetype end = m_oPending.indexOf('\n');
    if (end < 0)
        return {};
    const QByteArray line = m_oPending.left(end);
    m_oPending.remove(0, end + 1);
    return line;
}

void AccountClient::send(const QByteArray &rawRequest)
{
    m_oProcess.write("SEND " + QByteArray::number(rawRequest.size()) + '\n' + rawRequest);
}

HttpAnswer AccountClient::receive(std::chrono::milliseconds timeout)
{
    const Clock::time_point deadline = Clock::now() + timeout;
    const QList<QByteArray> header = readLine(deadline).split(' ');
    HttpAnswer answer;
    if (header.size() != 4 || header[0] != "ANSWER")
        return answer;
    answer.headerBlock = readBytes(header[1].toLongLong(), deadline);
    answer.body = readBytes(header[2].toLongLong(), deadline);
    answer.complete = header[3] == "1";
    answer.splitHeaderBlock();
    return answer;
}

HttpAnswer AccountClient::request(const QByteArray &rawRequest, std::chrono::milliseconds timeout)
{
    send(rawRequest);
    return receive(timeout);
}

QByteArray AccountClient::postRequest(const QByteArray &path, const QByteArray &headers,
                                      const QByteArray &body)
{
    return "POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + headers +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

HttpAnswer AccountClient::post(const QByteArray &path, const QByteArray &headers, const QByteArray &body)
{
    return request(postRequest(path, headers, body));
}

bool AccountClient::reconnect()
{
    m_oProcess.write("RECONNECT\n");
    return readLine(Clock::now() + std::chrono::seconds(10)) == "OK";
}
