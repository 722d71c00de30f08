#include "InProcessServer.h"

#include "common/QueuedCallTypes.h"
#include "http/HttpRequest.h"
#include "http/HttpResponse.h"
#include "logging/LogChannel.h"
#include "logging/LogChannels.h"

#include <QBuffer>
#include <QSysInfo>
#include <array>

namespace {
std::array<LogChannel *, 5> channels()
{
    return {&serverLogChannel(), &processUtilsLogChannel(), &moduleToolsLogChannel(),
            &fileVersionLogChannel(), &vyrcommonsLogChannel()};
}

bool writeIni(const QString &directory, const QMap<QString, QString> &values)
{
    QSettings ini(CSettings::filePathFor(directory), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        ini.setValue(it.key(), it.value());
    ini.sync();
    return ini.status() == QSettings::NoError;
}

QSettings *sessionsGroupOf(QSettings &settings)
{
    settings.beginGroup(QStringLiteral("sessions"));
    return &settings;
}
} // namespace

InProcessServer::ServerLog::ServerLog()
{
    registerQueuedCallTypes();
    for (LogChannel *channel : channels())
        channel->initializeWithSinks(0, 0, QString(), {sink});
}

InProcessServer::ServerLog::~ServerLog()
{
    for (LogChannel *channel : channels())
        channel->reset();
}

InProcessServer::InProcessServer(const QMap<QString, QString> &ini)
    : m_bIniWritten(writeIni(m_oDir.path(), ini)),
      m_oSessionSettings(CSettings::filePathFor(m_oDir.path()), QSettings::IniFormat),
      m_oSessions(sessionsGroupOf(m_oSessionSettings)),
      m_oTimeouts(
          m_oSettings.ReadTimeoutInterval(),
          {[this] { return &m_oLauncher; }, [this] { return &m_oModules; }, [this] { return &m_oSessions; }}),
      m_oMapper({[this] { return &m_oTimeouts; }, [this] { return &m_oModules; },
                 [this] { return &m_oLauncher; }, [this] { return &m_oCors; },
                 [this] { return &m_oSettings; }, [this] { return &m_oSessions; },
                 [this](const QTcpSocket *) { return m_oPeer; }})
{
}

// The connection handler's steps for one complete request, minus TLS and keep-alive.
HttpAnswer InProcessServer::send(const QByteArray &rawRequest, Peer peer)
{
    const QString host = QSysInfo::machineHostName() + QLatin1Char('/');
    const PeerIdentity identities[] = {{host + QStringLiteral("owner"), 1000u, true, false},
                                       {host + QStringLiteral("other"), 1001u, false, false},
                                       {host + QStringLiteral("root"), 0u, false, true}};
    m_oPeer = identities[static_cast<int>(peer)];
    QBuffer in;
    in.setData(rawRequest);
    in.open(QIODevice::ReadOnly);
    HttpRequest request(m_oSettings.ReadMaxRequestSize(), m_oSettings.ReadMaxMultiPartSize());
    while (in.bytesAvailable() > 0 && request.status() != HttpRequest::Complete &&
           request.status() != HttpRequest::Aborted)
        request.receive(in);
    QBuffer out;
    out.open(QIODevice::WriteOnly);
    if (request.status() == HttpRequest::Complete) {
        HttpResponse response(&out);
        m_oMapper.service(request, response);
        if (!response.hasSentLastPart())
            response.write(QByteArray(), true);
    }
    HttpAnswer answer;
    QByteArray bytes = out.data();
    answer.takeHead(bytes);
    answer.body = bytes;
    return answer;
}

HttpAnswer InProcessServer::post(const QByteArray &path, const QByteArray &sessionId,
                                 const QByteArray &headers, Peer peer)
{
    const QByteArray session = sessionId.isEmpty() ? QByteArray() : "X-VYR-sessionId: " + sessionId + "\r\n";
    return send("POST " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + session + headers + "\r\n", peer);
}
