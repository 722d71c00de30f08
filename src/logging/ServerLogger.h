#pragma once

#include <QString>

class HttpRequest;
class HttpResponse;

// Where and how the server logs; built from the settings and the command line at start.
struct ServerLoggerConfig
{
    int level = 2;
    qint64 maxSize = 5242880;
    QString filePath;
    bool consoleOutput = false;
    bool windowsServerMode = false;
};

// The server's main channel ("VYR-server"): sets up the shared file and console outputs,
// attaches the other four channels to them, writes the banner and the request/reply log.
class ServerLogger
{
public:
    // Created on first call from the settings and the process arguments.
    static ServerLogger &instance();

    explicit ServerLogger(const ServerLoggerConfig &config);

    // Used by the log-level request: every channel starts again with the new values.
    void reinitialize(int level, qint64 maxSize);
    int currentLevel() const;

    void logRequest(const HttpRequest &request);
    void logResponse(const HttpRequest &request, const HttpResponse &response);

    // <per-user settings dir>/Logs/<application>/<application>.log, directory created.
    static QString defaultLogFilePath();
    static ServerLoggerConfig configFromSettings();

private:
    void initializeAll(int level, qint64 maxSize);
    void writeBanner();

    QString m_oFilePath;
    bool m_bWindowsServerMode = false;
};

// The banner's text for a log level number.
QString logLevelName(int level);
