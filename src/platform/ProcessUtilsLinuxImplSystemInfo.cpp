// The system-information side of ProcessUtilsLinuxImpl: external tools through the
// command runner, release facts, browsers and antivirus.
#include "BrowserInventory_linux.h"
#include "ProcessUtilsLinuxImpl.h"
#include "UserDatabase_linux.h"
#include "logging/LogStatement.h"

#include <QDateTime>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>
#include <QSysInfo>
#include <sys/stat.h>

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

// Running a program found through a desktop entry must not run someone's planted file
// with our rights: only root-owned executables that no one else can change.
bool isTrustedExecutable(const QString &path)
{
    struct stat info
    {
    };
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return S_ISREG(info.st_mode) && info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

QString firstLine(const QByteArray &text)
{
    return QString::fromUtf8(text.left(text.indexOf('\n'))).trimmed();
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
    const auto facts = parseOsRelease(file.open(QIODevice::ReadOnly) ? file.read(64 * 1024) : QByteArray());
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

QString ProcessUtilsLinuxImpl::browserVersion(const QString &executable)
{
    const QString path =
        QFileInfo(executable).isAbsolute() ? executable : QStandardPaths::findExecutable(executable);
    if (!isTrustedExecutable(path))
        return {};
    const CommandResult result =
        m_oDependencies.runner->run(path, {QStringLiteral("--version")}, kSystemInfoTimeoutMs);
    return result.succeeded() ? firstLine(result.output) : QString();
}

QString ProcessUtilsLinuxImpl::getBrowsersInfo()
{
    QStringList lines;
    for (const InstalledBrowser &browser : BrowserInventory::find(m_oDependencies.applicationDirs)) {
        const QString version = browserVersion(browser.executable);
        if (version.isEmpty()) {
            VYR_LOG(processUtilsLogChannel(), Debug) << "File Version not found.";
            lines.append(browser.name + QStringLiteral(" (") + browser.desktopId +
                         QStringLiteral(") Version - Not Found"));
        } else {
            lines.append(browser.name + QStringLiteral(" (") + browser.desktopId +
                         QStringLiteral(") Version - ") + version);
        }
    }
    return lines.join(QLatin1Char('\n'));
}

QString ProcessUtilsLinuxImpl::getAntivirusInfo()
{
    // ClamAV is the scanner Linux desktops register, if any.
    QString displayName = kUnknown, path = kUnknown, state = kUnknown, timestamp = kUnknown;
    for (const char *candidate : {"clamscan", "clamdscan", "clamd"}) {
        const QString found = QStandardPaths::findExecutable(QString::fromLatin1(candidate));
        if (found.isEmpty())
            continue;
        path = found;
        // "ClamAV 1.0.3/27103/Mon Nov 27 09:27:40 2023": product, signatures, their date.
        const CommandResult version =
            m_oDependencies.runner->run(found, {QStringLiteral("--version")}, kSystemInfoTimeoutMs);
        const QStringList parts = firstLine(version.output).split(QLatin1Char('/'));
        if (version.succeeded() && !parts.first().isEmpty())
            displayName = parts.first();
        if (version.succeeded() && parts.size() >= 3)
            timestamp = parts.at(2);
        const CommandResult daemon = m_oDependencies.runner->run(
            QStringLiteral("systemctl"), {QStringLiteral("is-active"), QStringLiteral("clamav-daemon")},
            kSystemInfoTimeoutMs);
        if (daemon.finished && !firstLine(daemon.output).isEmpty())
            state = firstLine(daemon.output);
        break;
    }
    return QStringLiteral("displayName=%1\npathToSignedProductExe=%2\nproductState=%3\ntimestamp=%4")
        .arg(displayName, path, state, timestamp);
}
