#include "ServerLogger.h"

#include "LogChannels.h"
#include "LogStatement.h"
#include "common/ServerVersion.h"
#include "settings/CSettings.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <atomic>

namespace {
LogChannel *const kAttachedChannels[] = {&processUtilsLogChannel(), &fileVersionLogChannel(),
                                         &moduleToolsLogChannel(), &vyrcommonsLogChannel()};
}

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

ServerLogger &ServerLogger::instance()
{
    static ServerLogger logger(configFromSettings());
    return logger;
}

ServerLoggerConfig ServerLogger::configFromSettings()
{
    ServerLoggerConfig config;
    CSettings *settings = CSettings::instance();
    config.level = settings->ReadLogLevel();
    config.maxSize = settings->ReadMaxSize();
    config.filePath = defaultLogFilePath();
    config.consoleOutput = QCoreApplication::arguments().contains(QStringLiteral("-debug"));
    config.windowsServerMode = settings->ReadWindowsServerMode();
    return config;
}

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

ServerLogger::ServerLogger(const ServerLoggerConfig &config)
    : m_oFilePath(config.filePath), m_bWindowsServerMode(config.windowsServerMode)
{
    serverLogChannel().setConsoleOutput(config.consoleOutput, config.level);
    initializeAll(config.level, config.maxSize);
    writeBanner();
}

void ServerLogger::initializeAll(int level, qint64 maxSize)
{
    LogChannel &server = serverLogChannel();
    server.initialize(level, maxSize, m_oFilePath);
    for (LogChannel *channel : kAttachedChannels)
        server.attach(*channel);
}

void ServerLogger::writeBanner()
{
    const LogChannel &server = serverLogChannel();
    VYR_LOG_SERVER(Info) << "## Starting Veltrane Crypto Provider Server ver.  " << kServerVersion << " ##";
    VYR_LOG_SERVER(Info) << "WindowsServerMode: " << (m_bWindowsServerMode ? "true" : "false");
    VYR_LOG_SERVER(Info) << "LogLevel: " << logLevelName(server.level());
    VYR_LOG_SERVER(Info) << "MaxFileSize: " << server.maxSize();
}

void ServerLogger::reinitialize(int level, qint64 maxSize)
{
    serverLogChannel().reset();
    for (LogChannel *channel : kAttachedChannels)
        channel->reset();
    initializeAll(level, maxSize);
}

int ServerLogger::currentLevel() const
{
    return serverLogChannel().level();
}
