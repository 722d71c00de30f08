// The system-information side of ProcessUtilsLinuxImpl: external tools through the
// command runner and release facts.
#include "ProcessUtilsLinuxImpl.h"
#include "UserDatabase_linux.h"
#include "logging/LogStatement.h"

#include <QDateTime>
#include <QFile>
#include <QLocale>
#include <QSysInfo>

namespace {

const QByteArray kTimeoutText = "Command finished with TIMEOUT";
const QString kUnknown = QStringLiteral("<UNKNOWN>");

// KEY="value" lines; quotes and backslash escapes removed.
QList<std::pair<QByteArray, QByteArray>> parseOsRelease(const QByteArray &content)
{
    QList<std::pair<QByteArray, QByteArray>> facts;
    for (const QByteArray &rawLine : content.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        const qsizetype equals = line.indexOf('=');
        if (line.startsWith('#') || equals <= 0)
            continue;
        QByteArray value = line.mid(equals + 1);
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.mid(1, value.size() - 2);
        value.replace("\\\"", "\"").replace("\\$", "$").replace("\\`", "`").replace("\\\\", "\\");
        facts.append({line.left(equals), value});
    }
    return facts;
}

} // namespace

QByteArray ProcessUtilsLinuxImpl::runSystemCommand(const QString &command, const QStringList &arguments,
                                                   int timeoutMs)
{
    VYR_LOG(processUtilsLogChannel(), Debug) << "v_oCommand=" << command;
    VYR_LOG(processUtilsLogChannel(), Debug) << "v_oArguments=" << arguments;
    const CommandResult result = m_oDependencies.runner->run(command, arguments, timeoutMs);
    if (result.timedOut) {
        VYR_LOG(processUtilsLogChannel(), Warning) << "Command finished with TIMEOUT";
        return kTimeoutText;
    }
    if (!result.error.isEmpty())
        VYR_LOG(processUtilsLogChannel(), Warning) << "oStdError=" << result.error;
    // The error text of a command that never started is not its output.
    return result.started ? result.output + result.error : QByteArray();
}

QByteArray ProcessUtilsLinuxImpl::getTaskList()
{
    return runSystemCommand(
        QStringLiteral("ps"),
        {QStringLiteral("-eww"), QStringLiteral("-o"), QStringLiteral("user,pid,ppid,etime,args")},
        kSystemInfoTimeoutMs);
}

QByteArray ProcessUtilsLinuxImpl::osReleaseFacts(const QStringList &keys) const
{
    QFile file(m_oEtcRoot + QStringLiteral("/os-release"));
    const auto facts =
        parseOsRelease(file.open(QIODevice::ReadOnly) ? file.read(qint64{64} * 1024) : QByteArray());
    QByteArray text;
    if (keys.isEmpty()) {
        for (const auto &[key, value] : facts)
            text += key + '=' + value + '\n';
        return text.isEmpty() ? QByteArray("os-release=") + kUnknown.toUtf8() + '\n' : text;
    }
    for (const QString &key : keys) {
        QByteArray value = kUnknown.toUtf8();
        for (const auto &fact : facts) {
            if (fact.first == key.toUtf8())
                value = fact.second;
        }
        text += key.toUtf8() + '=' + value + '\n';
    }
    return text;
}

QByteArray ProcessUtilsLinuxImpl::getSystemCriticalInfo()
{
    QByteArray text =
        osReleaseFacts({QStringLiteral("PRETTY_NAME"), QStringLiteral("NAME"), QStringLiteral("ID"),
                        QStringLiteral("VERSION"), QStringLiteral("VERSION_ID")});
    text += "OSArchitecture=" + QSysInfo::currentCpuArchitecture().toUtf8() + '\n';
    const QDateTime now = QDateTime::currentDateTime();
    if (const auto uptime = m_oProcFs.uptimeMs(); uptime.ok())
        text += "LastBootUpTime=" + now.addMSecs(-uptime.value).toString(Qt::ISODate).toUtf8() + '\n';
    text += "LocalDateTime=" + now.toString(Qt::ISODate).toUtf8() + '\n';
    return text + runSystemCommand(QStringLiteral("uname"), {QStringLiteral("-a")}, kSystemInfoTimeoutMs);
}

QByteArray ProcessUtilsLinuxImpl::getSystemDetailInfo()
{
    QByteArray text = osReleaseFacts({});
    text += "CSName=" + UserDatabase::hostName().toUtf8() + '\n';
    text += "Locale=" + QLocale::system().name().toUtf8() + '\n';
    text += "KernelVersion=" + QSysInfo::kernelVersion().toUtf8() + '\n';
    return text + runSystemCommand(QStringLiteral("uname"), {QStringLiteral("-a")}, kSystemInfoTimeoutMs);
}

QByteArray ProcessUtilsLinuxImpl::getConnectedDevicesInfo()
{
    return QByteArrayLiteral("<NOT IMPLEMENTED>");
}
