#include "LogindSessionSource_linux.h"

#include <QMap>
#include <cerrno>

namespace {

const QString kLoginctl = QStringLiteral("loginctl");

int failureCode(const CommandResult &result)
{
    if (!result.started)
        return ENOENT;
    if (result.timedOut)
        return ETIMEDOUT;
    return result.exitCode != 0 ? result.exitCode : -1;
}

// Greeters, lock screens and per-user managers are no one's login.
bool isUserSession(const QString &sessionClass)
{
    return sessionClass.isEmpty() || sessionClass.startsWith(QLatin1String("user"));
}

LoginSession toSession(const QMap<QString, QString> &properties)
{
    LoginSession session;
    session.id = properties.value(QStringLiteral("Id"));
    session.userName = properties.value(QStringLiteral("Name"));
    session.seat = properties.value(QStringLiteral("Seat"));
    session.tty = properties.value(QStringLiteral("TTY"));
    session.active = properties.value(QStringLiteral("Active")) == QLatin1String("yes");
    return session;
}

} // namespace

LogindSessionSource::LogindSessionSource(std::shared_ptr<CommandRunner> runner) : m_pRunner(std::move(runner))
{
}

SessionQuery LogindSessionSource::querySessions()
{
    SessionQuery query;
    const CommandResult list = m_pRunner->run(
        kLoginctl,
        {QStringLiteral("list-sessions"), QStringLiteral("--no-legend"), QStringLiteral("--no-pager")},
        kTimeoutMs);
    if (!list.succeeded()) {
        query.errorCode = failureCode(list);
        return query;
    }
    QStringList ids;
    for (const QByteArray &line : list.output.split('\n')) {
        const QByteArray id = line.simplified().split(' ').value(0);
        if (!id.isEmpty())
            ids.append(QString::fromUtf8(id));
    }
    query.ok = true;
    if (ids.isEmpty())
        return query;
    QStringList arguments{QStringLiteral("show-session"), QStringLiteral("--no-pager")};
    for (const char *property : {"Id", "Name", "Seat", "TTY", "Active", "Class"})
        arguments << QStringLiteral("-p") << QString::fromLatin1(property);
    const CommandResult show = m_pRunner->run(kLoginctl, arguments + ids, kTimeoutMs);
    if (!show.succeeded()) {
        query.ok = false;
        query.errorCode = failureCode(show);
        return query;
    }
    query.sessions = parseShowSession(show.output);
    return query;
}

QList<LoginSession> LogindSessionSource::parseShowSession(const QByteArray &output)
{
    QList<LoginSession> sessions;
    QMap<QString, QString> properties;
    const auto flush = [&]() {
        if (properties.contains(QStringLiteral("Id")) &&
            isUserSession(properties.value(QStringLiteral("Class"))))
            sessions.append(toSession(properties));
        properties.clear();
    };
    for (const QByteArray &line : output.split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (line.trimmed().isEmpty()) {
            flush();
        } else if (equals > 0) {
            properties.insert(QString::fromUtf8(line.left(equals)),
                              QString::fromUtf8(line.mid(equals + 1)).trimmed());
        }
    }
    flush();
    return sessions;
}
