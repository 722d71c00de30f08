#pragma once

#include <QString>

// Where and how the server logs; start-up builds it from the settings and the command line.
struct ServerLoggerConfig
{
    int level = 2;
    qint64 maxSize = 5242880;
    QString filePath;
    bool consoleOutput = false;
    bool windowsServerMode = false;
};

// The server's main channel ("VYR-server"): sets up the shared file and console outputs,
// attaches the other four channels to them and writes the banner. Its state is the
// channels' own, so any thread may call it.
class ServerLogger
{
public:
    // Once, at start.
    static void start(const ServerLoggerConfig &config);
    // Used by the log-level request: every channel starts again with the new values, on
    // the same file.
    static void reinitialize(int level, qint64 maxSize);
    static int currentLevel();

    // <per-user settings dir>/Logs/<application>/<application>.log, directory created.
    static QString defaultLogFilePath();

private:
    static void initializeAll(int level, qint64 maxSize, const QString &filePath);
    static void writeBanner(bool windowsServerMode);
};
