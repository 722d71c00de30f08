#include "VerifiedModules.h"

#include "ModuleReader.h"
#include "logging/LogStatement.h"

#include <QDateTime>

namespace {
// A file changed this recently could change again under the same change time; it is verified
// each time until its change time lies further back than the kernel's clock steps.
constexpr qint64 kSettledNs = qint64{2} * 1000 * 1000 * 1000;
constexpr qint64 kNsPerMs = qint64{1000} * 1000;

bool settled(const ModuleFileIdentity &identity)
{
    return QDateTime::currentMSecsSinceEpoch() * kNsPerMs - identity.changedNs > kSettledNs;
}
} // namespace

bool VerifiedModules::verify(const QString &path)
{
    const std::optional<ModuleFileIdentity> before = ModuleFileIdentity::of(path);
    if (before && remembered(path, *before)) {
        VYR_LOG(moduleToolsLogChannel(), Debug) << "Module file unchanged since verified: " << path;
        return true;
    }
    const bool verified = ModuleReader(path, true).verify();
    // Remembered only when the bytes verified are the bytes the identity stands for.
    if (verified && before && settled(*before) && ModuleFileIdentity::of(path) == before)
        remember(path, *before);
    return verified;
}

bool VerifiedModules::remembered(const QString &path, const ModuleFileIdentity &identity)
{
    const QMutexLocker locker(&s_mutex);
    const auto found = s_verified.find(path);
    if (found == s_verified.end())
        return false;
    if (found->second == identity)
        return true;
    s_verified.erase(found);
    return false;
}

void VerifiedModules::remember(const QString &path, const ModuleFileIdentity &identity)
{
    const QMutexLocker locker(&s_mutex);
    s_verified[path] = identity;
}
