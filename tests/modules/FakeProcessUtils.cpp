#include "FakeProcessUtils.h"

#include "platform/ProcessUtilsFactory.h"

namespace {
QMutex g_oRecordMutex;
FakeProcessUtils::Record g_oRecord;
} // namespace

std::unique_ptr<ProcessUtils> createProcessUtils()
{
    return std::make_unique<FakeProcessUtils>();
}

FakeProcessUtils::Record FakeProcessUtils::record()
{
    QMutexLocker locker(&g_oRecordMutex);
    return g_oRecord;
}

void FakeProcessUtils::reset(const QByteArray &path)
{
    QMutexLocker locker(&g_oRecordMutex);
    g_oRecord = Record{{}, path};
}

void FakeProcessUtils::writeEventLog(const QString &source, const QString &message)
{
    QMutexLocker locker(&g_oRecordMutex);
    g_oRecord.eventLog.append({source, message});
}

QByteArray FakeProcessUtils::getPathVariable()
{
    QMutexLocker locker(&g_oRecordMutex);
    return g_oRecord.path;
}

void FakeProcessUtils::setPathVariable(const QString &value)
{
    QMutexLocker locker(&g_oRecordMutex);
    g_oRecord.path = value.toUtf8();
}
