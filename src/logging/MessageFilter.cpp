#include "MessageFilter.h"

#include <QStringView>

namespace {
// One pass over the line: this runs for every line written, and most mention no method.
bool mentionsHttpMethod(QStringView text)
{
    static constexpr QLatin1StringView kMethods[] = {QLatin1StringView("GET"), QLatin1StringView("HEAD"),
                                                     QLatin1StringView("POST"), QLatin1StringView("DELETE"),
                                                     QLatin1StringView("PUT")};
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c != u'G' && c != u'H' && c != u'P' && c != u'D')
            continue;
        const QStringView rest = text.mid(i);
        for (const QLatin1StringView method : kMethods) {
            if (rest.startsWith(method))
                return true;
        }
    }
    return false;
}

// Punctuation a forged line could use, and ASCII white space (line breaks included).
bool isBlanked(QChar c)
{
    static constexpr QStringView kBlanked = u"-{}()*+?.,^$|# \t\n\v\f\r";
    return kBlanked.contains(c);
}
} // namespace

QString filterLogMessage(const QString &text)
{
    if (!mentionsHttpMethod(text))
        return text;
    QString filtered = text;
    for (QChar &c : filtered) {
        if (isBlanked(c))
            c = QLatin1Char(' ');
    }
    return filtered;
}
