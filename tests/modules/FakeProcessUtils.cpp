#include "ModuleFixture.h"
#include "platform/ProcessUtilsFactory.h"
#include "platform/ProcessUtilsLinuxImpl.h"

#include <QMutex>

namespace {

QMutex g_oRecordMutex;
FakeProcessRecord g_oRecord;

class FakeProcessUtils final : public ProcessUtilsLinuxImpl
{
public:
    void writeEventLog(const QString &source, const QString &message) override
    {
        QMutexLocker locker(&g_oRecordMutex);
        g_oRecord.eventLog.append({source, message});
    }
    QByteArray getPathVariable() override { return fakeProcessRecord().path; }
    void setPathVariable(const QString &value) override
    {
        QMutexLocker locker(&g_oRecordMutex);
        g_oRecord.path = value.toUtf8();
    }
};

} // namespace

std::unique_ptr<ProcessUtils> createProcessUtils()
{
    return std::make_unique<FakeProcessUtils>();
}

FakeProcessRecord fakeProcessRecord()
{
    QMutexLocker locker(&g_oRecordMutex);
    return g_oRecord;
}

void resetFakeProcess(const QByteArray &path)
{
    QMutexLocker locker(&g_oRecordMutex);
    g_oRecord = {{}, path};
}
