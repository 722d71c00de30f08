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
// The text is built before any output's lock is taken, so an argument that logs cannot deadlock.
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
    // False when built below the channel's level outside the macros: nothing is handed over.
    bool m_bActive;
    QString m_oText;
};

inline const char *logBool(bool value)
{
    return value ? "TRUE" : "FALSE";
}

// Turns a finished statement into void, so both arms of the level check below agree.
struct LogStatementVoidify
{
    void operator&(const LogStatement & /*statement*/) const {}
};

// A statement below the channel's level costs one relaxed load and a branch: neither the
// statement nor any operand after it is evaluated. Not parenthesised: the operands follow it.
#define VYR_LOG_IF_ENABLED(channel, level, statement)                                                        \
    !(channel).enabled(level) ? (void)0 : LogStatementVoidify() & (statement) // NOLINT(*-macro-parentheses)
#define VYR_LOG(channel, level)                                                                              \
    VYR_LOG_IF_ENABLED(channel, LogLevel::level,                                                             \
                       LogStatement((channel), LogLevel::level, __PRETTY_FUNCTION__))
// For lines written in another scope's name; level is a LogLevel value.
#define VYR_LOG_SCOPED(channel, level, className, method)                                                    \
    VYR_LOG_IF_ENABLED(channel, level, LogStatement((channel), (level), (className), (method)))
#define VYR_LOG_SERVER(level) VYR_LOG(serverLogChannel(), level)
