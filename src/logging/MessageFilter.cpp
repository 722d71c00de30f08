#include "MessageFilter.h"

#include <QRegularExpression>

namespace {
bool mentionsHttpMethod(const QString &text)
{
    static const char *const methods[] = {"GET", "HEAD", "POST", "DELETE", "PUT"};
    for (const char *method : methods) {
        if (text.contains(QLatin1String(method), Qt::CaseSensitive))
            return true;
    }
    return false;
}
} // namespace

QString filterLogMessage(const QString &text)
{
    if (!mentionsHttpMethod(text))
        return text;
    static const QRegularExpression special(QStringLiteral("[-\\{}()*+?.,\\^$|#\\s]"));
    QString filtered = text;
    filtered.replace(special, QStringLiteral(" "));
    return filtered;
}
