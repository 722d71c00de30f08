// A server that cannot see who owns other processes, as an account without rights on a
// platform that hides them: every owner lookup but its own fails, so it has to ask the
// dispatcher. Linked into a test build only, in place of the platform's factory.
#include "platform/ProcessUtilsExceptions.h"
#include "platform/ProcessUtilsFactory.h"
#include "platform/ProcessUtilsLinuxImpl.h"

#include <QCoreApplication>

namespace {
class BlindProcessUtils final : public ProcessUtilsLinuxImpl
{
public:
    QString getDomainAndUsernameForPid(qint64 pid) override
    {
        if (pid != QCoreApplication::applicationPid())
            throw OpenProcessException(QStringLiteral("OpenProcess with pid: %1 Error: %2").arg(pid).arg(5));
        return ProcessUtilsLinuxImpl::getDomainAndUsernameForPid(pid);
    }
};
} // namespace

std::unique_ptr<ProcessUtils> createProcessUtils()
{
    return std::make_unique<BlindProcessUtils>();
}
