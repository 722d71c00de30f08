#include "HttpCookie.h"

HttpCookie::HttpCookie(const QByteArray &name, const QByteArray &value, qint32 maxAge, const QByteArray &path,
                       const QByteArray &comment, const QByteArray &domain, bool secure, bool httpOnly)
    : m_oName(name), m_oValue(value), m_oComment(comment), m_oDomain(domain), m_iMaxAge(maxAge),
      m_oPath(path), m_bSecure(secure), m_bHttpOnly(httpOnly)
{
}

QByteArray HttpCookie::toHeaderValue() const
{
    QByteArray buffer = m_oName + '=' + m_oValue;
    if (!m_oComment.isEmpty())
        buffer += "; Comment=" + m_oComment;
    if (!m_oDomain.isEmpty())
        buffer += "; Domain=" + m_oDomain;
    if (m_iMaxAge != 0)
        buffer += "; Max-Age=" + QByteArray::number(m_iMaxAge);
    if (!m_oPath.isEmpty())
        buffer += "; Path=" + m_oPath;
    if (m_bSecure)
        buffer += "; Secure";
    if (m_bHttpOnly)
        buffer += "; HttpOnly";
    buffer += "; Version=" + QByteArray::number(m_iVersion);
    return buffer;
}

QList<QByteArray> HttpCookie::splitAttributes(const QByteArray &source)
{
    QList<QByteArray> pieces;
    QByteArray current;
    bool inQuotes = false;
    const auto finishPiece = [&pieces, &current] {
        const QByteArray trimmed = current.trimmed();
        if (!trimmed.isEmpty())
            pieces.append(trimmed);
        current.clear();
    };
    for (const char c : source) {
        if (c == '"')
            inQuotes = !inQuotes;
        else if (c == ';' && !inQuotes)
            finishPiece();
        else
            current += c;
    }
    finishPiece();
    return pieces;
}
