#include "PageText.h"

#include <QStringDecoder>

namespace {
bool isHiddenOrControl(QChar c)
{
    switch (c.category()) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Other_PrivateUse:
    case QChar::Other_NotAssigned:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}
} // namespace

QString plainPageText(const QByteArray &utf8, qsizetype maxChars)
{
    // Decoding the whole of a 100 kB description costs nothing worth bounding; what is shown is.
    QStringDecoder decoder(QStringDecoder::Utf8);
    const QString decoded = decoder(utf8);
    QString text;
    text.reserve(std::min(decoded.size(), maxChars + 1));
    for (const QChar c : decoded) {
        if (text.size() > maxChars)
            break;
        const QChar shown = isHiddenOrControl(c) || c.isSpace() ? QLatin1Char(' ') : c;
        if (shown == QLatin1Char(' ') && (text.isEmpty() || text.endsWith(QLatin1Char(' '))))
            continue;
        text += shown;
    }
    if (text.size() > maxChars)
        text = text.left(maxChars - 1) + QChar(0x2026);
    return text.trimmed();
}

QString breakableText(const QString &text, qsizetype runLength)
{
    QString broken;
    qsizetype run = 0;
    for (const QChar c : text) {
        run = c.isSpace() ? 0 : run + 1;
        if (run > runLength) {
            broken += QChar(0x200B);
            run = 1;
        }
        broken += c;
    }
    return broken;
}
