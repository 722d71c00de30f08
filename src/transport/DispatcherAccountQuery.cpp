#include "DispatcherAccountQuery.h"

#include "common/PeerIdentity.h"
#include "logging/LogStatement.h"
#include "settings/CSettings.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringDecoder>
#include <algorithm>

namespace {

// "host/user" with room to spare; the dispatcher's own names are far shorter.
constexpr qsizetype kMaxAccountSize = 512;

int remainingMs(const QDeadlineTimer &deadline)
{
    return int(std::max<qint64>(0, deadline.remainingTime()));
}

std::optional<QString> accountText(const QByteArray &body)
{
    if (body.isEmpty() || body.size() > kMaxAccountSize || !body.contains('/'))
        return std::nullopt;
    for (const char c : body) {
        if (uchar(c) < 0x20 || uchar(c) == 0x7f)
            return std::nullopt;
    }
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(body);
    if (decoder.hasError())
        return std::nullopt;
    return text;
}

// The value of the one Content-Length header of a head; -1 when absent, repeated or not a number.
qsizetype contentLength(const QList<QByteArray> &headerLines)
{
    qsizetype length = -1;
    for (const QByteArray &line : headerLines) {
        const qsizetype colon = line.indexOf(':');
        if (colon <= 0 || line.left(colon).trimmed().compare("content-length", Qt::CaseInsensitive) != 0)
            continue;
        const QByteArray value = line.mid(colon + 1).trimmed();
        bool ok = false;
        const qsizetype parsed = value.toLongLong(&ok);
        const bool digits =
            std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (length >= 0 || !ok || value.isEmpty() || !digits)
            return -1;
        length = parsed;
    }
    return length;
}

} // namespace

DispatcherAccountQuery::DispatcherAccountQuery(quint16 port, QString caFile, int deadlineMs)
    : m_iPort(port), m_oCaFile(std::move(caFile)), m_iDeadlineMs(deadlineMs)
{
}

DispatcherAccountQuery DispatcherAccountQuery::fromSettings()
{
    CSettings *settings = CSettings::instance();
    // The provisioning tool puts this machine's local authority beside the server certificate.
    const QString certificateDir = QFileInfo(settings->ReadSslCertificateCertAndKeyFiles().first).path();
    return DispatcherAccountQuery(quint16(settings->ReadPort()),
                                  certificateDir + QStringLiteral("/VYR-ca.pem"));
}

DispatcherAccountQuery::Answer DispatcherAccountQuery::parseAnswer(const QByteArray &bytes)
{
    const qsizetype headEnd = bytes.indexOf("\r\n\r\n");
    if (headEnd < 0)
        return {};
    QList<QByteArray> lines = bytes.left(headEnd).split('\n');
    const QList<QByteArray> status = lines.takeFirst().trimmed().split(' ');
    const qsizetype length = contentLength(lines);
    const qsizetype bodyStart = headEnd + 4;
    if (length < 0 || length > kMaxAnswerSize)
        return {true, {}, std::nullopt};
    if (bytes.size() - bodyStart < length)
        return {};
    const QByteArray statusCode = status.value(1).left(3);
    if (status.size() < 2 || !status.at(0).startsWith("HTTP/1.") || status.at(1) != "200")
        return {true, statusCode, std::nullopt};
    return {true, statusCode, accountText(bytes.mid(bodyStart, length))};
}

QByteArray DispatcherAccountQuery::exchange(const QByteArray &request) const
{
    const QDeadlineTimer deadline(m_iDeadlineMs);
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setCaCertificates(QSslCertificate::fromPath(m_oCaFile));
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    configuration.setProtocol(QSsl::TlsV1_2OrLater);
    QSslSocket socket;
    socket.setSslConfiguration(configuration);
    // An address, not a name: a name may resolve elsewhere on a machine set up oddly.
    socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_iPort);
    if (!socket.waitForEncrypted(remainingMs(deadline))) {
        VYR_LOG_SERVER(Warning) << "Dispatcher not reached: " << socket.errorString();
        return {};
    }
    socket.write(request);
    QByteArray answer;
    while (answer.size() <= kMaxAnswerSize && !parseAnswer(answer).complete) {
        if (socket.bytesAvailable() == 0 && !socket.waitForReadyRead(remainingMs(deadline))) {
            VYR_LOG_SERVER(Warning) << "Dispatcher gave no whole answer: " << socket.errorString();
            break;
        }
        answer += socket.read(kMaxAnswerSize + 1 - answer.size());
    }
    socket.abort();
    return answer;
}

QString DispatcherAccountQuery::askDispatcherForDomainAndUsernameForPID(qint64 pid) const
{
    VYR_LOG_SERVER(Info) << "Asking dispatcher for info about PID=" << pid;
    const QByteArray body = "processPid=" + QByteArray::number(quint64(pid));
    const QByteArray request =
        "POST /GET_USERNAME_FOR_PID HTTP/1.1\r\nHost: 127.0.0.1:" + QByteArray::number(m_iPort) +
        "\r\nContent-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
        QByteArray::number(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    const QByteArray bytes = exchange(request);
    const Answer answer = parseAnswer(bytes);
    VYR_LOG_SERVER(Debug) << "iResStatusCode=" << answer.statusCode;
    if (!bytes.isEmpty() && !answer.account)
        VYR_LOG_SERVER(Warning) << "Dispatcher's answer (" << bytes.size() << " bytes) names no account";
    QString result = answer.account.value_or(PeerIdentity::unknownAccount());
    VYR_LOG_SERVER(Info) << "Response info about PID <" << pid
                         << "> set to oClientDomainAndUsername=" << result;
    return result;
}
