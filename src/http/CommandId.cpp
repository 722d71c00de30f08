#include "CommandId.h"

#include "logging/LogStatement.h"

#include <QRegularExpression>
#include <QString>

QByteArray escapeAndConvertToValidID(const QByteArray &data)
{
    VYR_LOG_SERVER(Debug) << "v_oData=" << data;
    if (data.isEmpty())
        return {};
    QByteArray text = QString::fromUtf8(data).toHtmlEscaped().toLatin1().trimmed();
    static const QRegularExpression uuid(
        QStringLiteral("^\\{[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}\\}$"),
        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression counter(QStringLiteral("^[0-9]{1,13}$"));
    if (uuid.match(QString::fromLatin1(text)).hasMatch()) {
        VYR_LOG_SERVER(Debug) << "UUID format OK";
        return text;
    }
    if (counter.match(QString::fromLatin1(text)).hasMatch()) {
        VYR_LOG_SERVER(Debug) << "Timestamp/counter format OK";
        return text;
    }
    VYR_LOG_SERVER(Warning) << "Data format not match to valid ones. Return value set to empty data.";
    return {};
}
