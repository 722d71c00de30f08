#pragma once

#include <QByteArray>
#include <QList>

// One cookie as rendered after "Set-Cookie: "; also splits a request's cookie header.
class HttpCookie
{
public:
    HttpCookie() = default;
    HttpCookie(const QByteArray &name, const QByteArray &value, qint32 maxAge,
               const QByteArray &path = QByteArray(), const QByteArray &comment = QByteArray(),
               const QByteArray &domain = QByteArray(), bool secure = false, bool httpOnly = false);

    QByteArray name() const { return m_oName; }
    QByteArray value() const { return m_oValue; }
    QByteArray comment() const { return m_oComment; }
    QByteArray domain() const { return m_oDomain; }
    qint32 maxAge() const { return m_iMaxAge; }
    QByteArray path() const { return m_oPath; }
    bool secure() const { return m_bSecure; }
    bool httpOnly() const { return m_bHttpOnly; }
    qint32 version() const { return m_iVersion; }

    // Browsers take the attributes as they come: nothing is quoted or escaped.
    QByteArray toHeaderValue() const;

    // Pieces separated by semicolons outside double quotes; quotes dropped, pieces trimmed,
    // empty pieces left out. Commas are no separators.
    static QList<QByteArray> splitAttributes(const QByteArray &source);

private:
    QByteArray m_oName;
    QByteArray m_oValue;
    QByteArray m_oComment;
    QByteArray m_oDomain;
    qint32 m_iMaxAge = 0; // seconds; 0 leaves the attribute out
    QByteArray m_oPath;
    bool m_bSecure = false;
    bool m_bHttpOnly = false;
    qint32 m_iVersion = 1;
};
