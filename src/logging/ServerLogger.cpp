#include "ServerLogger.h"

#include "LogChannels.h"
#include "LogStatement.h"
#include "PeriodicFlush.h"
#include "common/ServerVersion.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace {
LogChannel *const kAttachedChannels[] = {&processUtilsLogChannel(), &fileVersionLogChannel(),
                                         &moduleToolsLogChannel(), &vyrcommonsLogChannel()};

QString logLevelName(int level)
{
    if (level <= 1)
        return QStringLiteral("DEBUG");
    if (level == 2)
        return QStringLiteral("INFO");
    if (level == 3)
        return QStringLiteral("WARN");
    return QStringLiteral("ERROR");
}
} // namespace

QString ServerLogger::defaultLogFilePath()
{
    const QSettings userSettings(QSettings::IniFormat, QSettings::UserScope,
                                 QCoreApplication::organizationName(), QCoreApplication::applicationName());
    const QString directory = QFileInfo(userSettings.fileName()).absolutePath() + QDir::separator() + "Logs" +
                              QDir::separator() + QCoreApplication::applicationName();
    QDir().mkpath(directory);
    QString path = directory + QDir::separator() + QCoreApplication::applicationName() + ".log";
    qDebug().noquote() << "Log file: " + path;
    return path;
}

void ServerLogger::start(const ServerLoggerConfig &config)
{
    serverLogChannel().setConsoleOutput(config.consoleOutput, config.level);
    initializeAll(config.level, config.maxSize, config.filePath);
    // Lines below warning wait for this; its destructor, at a clean exit, flushes the rest.
    static const PeriodicFlush flusher(serverLogChannel(), std::chrono::milliseconds(200));
    writeBanner(config.windowsServerMode);
}

void ServerLogger::initializeAll(int level, qint64 maxSize, const QString &filePath)
{
    LogChannel &server = serverLogChannel();
    server.initialize(level, maxSize, filePath);
    for (LogChannel *channel : kAttachedChannels)
        server.attach(*channel);
}

void ServerLogger::writeBanner(bool windowsServerMode)
{
    const LogChannel &server = serverLogChannel();
    VYR_LOG_SERVER(Info) << "## Starting Veltrane Crypto Provider Server ver.  " << kServerVersion << " ##";
    VYR_LOG_SERVER(Info) << "WindowsServerMode: " << (windowsServerMode ? "true" : "false");
    VYR_LOG_SERVER(Info) << "LogLevel: " << logLevelName(server.level());
    VYR_LOG_SERVER(Info) << "MaxFileSize: " << server.maxSize();
}

void ServerLogger::reinitialize(int level, qint64 maxSize)
{
    LogChannel &server = serverLogChannel();
    const QString filePath = server.filePath();
    server.reset();
    for (LogChannel *channel : kAttachedChannels)
        channel->reset();
    initializeAll(level, maxSize, filePath);
}

int ServerLogger::currentLevel()
{
    return serverLogChannel().level();
}
