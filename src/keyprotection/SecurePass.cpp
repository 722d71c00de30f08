#include "SecurePass.h"

#include "common/UnsupportedCharsException.h"

#include <QTextCodec>

namespace {
const QString kUnsupportedCharsMessage = QStringLiteral("User has entered unsupported characters!");
}

SecurePass::SecurePass() : m_oEncoding(QByteArrayLiteral("UTF-8")) {}

SecurePass::SecurePass(const QString &text, const QByteArray &encoding)
    : SecureObject(encode(text, encoding)), m_oEncoding(encoding)
{
}

SecurePass::~SecurePass() = default;
SecurePass::SecurePass(const SecurePass &other) = default;
SecurePass &SecurePass::operator=(const SecurePass &other) = default;

QByteArray SecurePass::encode(const QString &text, const QByteArray &encoding)
{
    QTextCodec *codec = QTextCodec::codecForName(encoding);
    if (!codec)
        throw UnsupportedCharsException(kUnsupportedCharsMessage);
    // Without the header flag a UTF-16/32 codec would put a byte order mark in front.
    QTextCodec::ConverterState state(QTextCodec::IgnoreHeader);
    QByteArray encoded = codec->fromUnicode(text.constData(), static_cast<int>(text.size()), &state);
    if (state.invalidChars > 0 || state.remainingChars > 0) {
        SecureObject::wipe(encoded);
        throw UnsupportedCharsException(kUnsupportedCharsMessage);
    }
    return encoded;
}
