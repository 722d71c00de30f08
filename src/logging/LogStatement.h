#pragma once

#include "LogChannel.h"
#include "LogChannels.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <concepts>
#include <string>

// Reduces a compiler function signature to "Class::method" (or "function").
QString logScopeFromSignature(const char *prettyFunction);

// Composes one line "[channel]:Class::method: message" and hands it over when it ends.
// The text is built outside the log lock, so an argument that logs cannot deadlock.
class LogStatement
{
public:
    LogStatement(LogChannel &channel, LogLevel level, const char *prettyFunction);
    LogStatement(LogChannel &channel, LogLevel level, const QString &className, const QString &method);
    ~LogStatement();
    LogStatement(const LogStatement &) = delete;
    LogStatement &operator=(const LogStatement &) = delete;

    LogStatement &operator<<(const QString &text);
    LogStatement &operator<<(QStringView text);
    LogStatement &operator<<(const QByteArray &text);
    LogStatement &operator<<(const char *text);
    LogStatement &operator<<(const std::string &text);
    LogStatement &operator<<(char c);
    // Booleans read "TRUE" or "FALSE" in this system's log.
    LogStatement &operator<<(bool value);
    LogStatement &operator<<(const void *pointer);
    LogStatement &operator<<(double value);
    template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char>) LogStatement &operator<<(T value)
    {
        m_oText += QString::number(value);
        return *this;
    }
    LogStatement &operator<<(const QStringList &list);

private:
    LogChannel &m_oChannel;
    LogLevel m_eLevel;
    QString m_oText;
};

inline const char *logBool(bool value)
{
    return value ? "TRUE" : "FALSE";
}

#define VYR_LOG(channel, level) LogStatement((channel), LogLevel::level, __PRETTY_FUNCTION__)
#define VYR_LOG_SERVER(level) VYR_LOG(serverLogChannel(), level)
