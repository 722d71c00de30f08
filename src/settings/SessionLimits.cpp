#include "SessionLimits.h"

#include "logging/LogStatement.h"

#include <QSettings>
#include <limits>

namespace {
qint64 readPositive(const QSettings &settings, const char *key, qint64 defaultValue)
{
    const QVariant value = settings.value(QLatin1String(key));
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const qint64 number = value.toString().toLongLong(&ok);
    if (ok && number > 0)
        return number;
    VYR_LOG_SERVER(Warning) << "Ignoring sessions/" << key << "=" << value.toString() << ", using "
                            << defaultValue;
    return defaultValue;
}
} // namespace

SessionLimits SessionLimits::read(const QSettings &sessionsGroup)
{
    SessionLimits limits;
    limits.maxSessions = int(qMin<qint64>(readPositive(sessionsGroup, "maxSessions", kDefaultMaxSessions),
                                          std::numeric_limits<int>::max()));
    limits.maxValues = int(qMin<qint64>(readPositive(sessionsGroup, "maxSessionValues", kDefaultMaxValues),
                                        std::numeric_limits<int>::max()));
    limits.maxValueBytes = readPositive(sessionsGroup, "maxSessionValueBytes", kDefaultMaxValueBytes);
    return limits;
}
