#include "LogStatement.h"

QString logScopeFromSignature(const char *prettyFunction)
{
    QString signature = QString::fromLatin1(prettyFunction);
    const qsizetype paren = signature.indexOf(QLatin1Char('('));
    if (paren >= 0)
        signature.truncate(paren);
    const qsizetype space = signature.lastIndexOf(QLatin1Char(' '));
    if (space >= 0)
        signature.remove(0, space + 1);
    // Keep the last two components: namespaces add nothing to a log prefix.
    const QStringList parts = signature.split(QStringLiteral("::"));
    if (parts.size() > 2)
        return parts.mid(parts.size() - 2).join(QStringLiteral("::"));
    return signature;
}

LogStatement::LogStatement(LogChannel &channel, LogLevel level, const char *prettyFunction)
    : m_oChannel(channel), m_eLevel(level), m_bActive(channel.enabled(level))
{
    if (!m_bActive)
        return;
    m_oText = QLatin1Char('[') + channel.name() + QStringLiteral("]:") +
              logScopeFromSignature(prettyFunction) + QStringLiteral(": ");
}

LogStatement::LogStatement(LogChannel &channel, LogLevel level, const QString &className,
                           const QString &method)
    : m_oChannel(channel), m_eLevel(level), m_bActive(channel.enabled(level))
{
    if (!m_bActive)
        return;
    const QString scope = className.isEmpty() ? method : className + QStringLiteral("::") + method;
    m_oText = QLatin1Char('[') + channel.name() + QStringLiteral("]:") + scope + QStringLiteral(": ");
}

LogStatement::~LogStatement()
{
    if (m_bActive)
        m_oChannel.write(m_eLevel, m_oText);
}

LogStatement &LogStatement::operator<<(const QString &text)
{
    m_oText += text;
    return *this;
}

LogStatement &LogStatement::operator<<(QStringView text)
{
    m_oText += text;
    return *this;
}

LogStatement &LogStatement::operator<<(const QByteArray &text)
{
    m_oText += QString::fromUtf8(text);
    return *this;
}

LogStatement &LogStatement::operator<<(const char *text)
{
    m_oText += QString::fromUtf8(text ? text : "");
    return *this;
}

LogStatement &LogStatement::operator<<(const std::string &text)
{
    m_oText += QString::fromStdString(text);
    return *this;
}

LogStatement &LogStatement::operator<<(char c)
{
    m_oText += QLatin1Char(c);
    return *this;
}

LogStatement &LogStatement::operator<<(bool value)
{
    m_oText += QLatin1String(logBool(value));
    return *this;
}

LogStatement &LogStatement::operator<<(const void *pointer)
{
    m_oText += QStringLiteral("0x") + QString::number(reinterpret_cast<quintptr>(pointer), 16);
    return *this;
}

LogStatement &LogStatement::operator<<(double value)
{
    m_oText += QString::number(value);
    return *this;
}

LogStatement &LogStatement::operator<<(const QStringList &list)
{
    m_oText += list.join(QStringLiteral(", "));
    return *this;
}
