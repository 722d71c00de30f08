// A server that can neither ask the kernel who owns a client's socket nor see who owns other
// processes, as an account without rights on a platform that hides them: it finds the
// client's process through the socket table, and has to ask the dispatcher for its account.
// Linked into a test build only, in place of the platform's factory.
#include "platform/ProcessUtilsExceptions.h"
#include "platform/ProcessUtilsFactory.h"
#include "platform/ProcessUtilsLinuxImpl.h"

#include <QCoreApplication>
#include <cerrno>

namespace {
class BlindProcessUtils final : public ProcessUtilsLinuxImpl
{
public:
    std::optional<PeerSocketOwner> getPeerSocketOwner(qintptr) override
    {
        throw GetExtendedTcpTableException(QStringLiteral("sock_diag Error: %1").arg(EACCES));
    }
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
