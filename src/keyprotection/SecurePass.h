#pragma once

#include "SecureObject.h"

#include <QByteArray>
#include <QString>

// A secret text held as its bytes in a named encoding ("UTF-8" by default; any name the
// text codecs know, e.g. "ISO-8859-1", "windows-1250"). The bytes are what a decoder of
// that encoding expects, e.g. the pass phrase of an encrypted key.
class SecurePass : public SecureObject
{
public:
    SecurePass();
    // Throws UnsupportedCharsException when the encoding is unknown or cannot represent
    // every character of the text.
    explicit SecurePass(const QString &text, const QByteArray &encoding = QByteArrayLiteral("UTF-8"));
    ~SecurePass() override;
    SecurePass(const SecurePass &other);
    SecurePass &operator=(const SecurePass &other);

    QByteArray encoding() const { return m_oEncoding; }

private:
    static QByteArray encode(const QString &text, const QByteArray &encoding);

    QByteArray m_oEncoding;
};
