#include "UserDatabase_linux.h"

#include <QSysInfo>
#include <algorithm>
#include <cerrno>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kInitialBufferSize = 4096;
constexpr size_t kMaxBufferSize = 1024 * 1024;

struct PasswdEntry
{
    QString name;
    gid_t primaryGroup = 0;
};

SysResult<PasswdEntry> lookUpUid(uid_t uid)
{
    std::vector<char> buffer(kInitialBufferSize);
    for (;;) {
        passwd entry{};
        passwd *result = nullptr;
        const int error = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &result);
        if (error == ERANGE && buffer.size() < kMaxBufferSize) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0)
            return SysResult<PasswdEntry>::failure(error);
        if (!result)
            return SysResult<PasswdEntry>::failure(ENOENT);
        return SysResult<PasswdEntry>::success({QString::fromLocal8Bit(entry.pw_name), entry.pw_gid});
    }
}

std::optional<gid_t> groupId(const QString &groupName)
{
    const QByteArray name = groupName.toLocal8Bit();
    std::vector<char> buffer(kInitialBufferSize);
    for (;;) {
        group entry{};
        group *result = nullptr;
        const int error = getgrnam_r(name.constData(), &entry, buffer.data(), buffer.size(), &result);
        if (error == ERANGE && buffer.size() < kMaxBufferSize) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (error != 0 || !result)
            return std::nullopt;
        return entry.gr_gid;
    }
}

std::vector<gid_t> groupsOf(const PasswdEntry &user)
{
    const QByteArray name = user.name.toLocal8Bit();
    int count = 32;
    std::vector<gid_t> groups;
    for (int attempt = 0; attempt < 8; ++attempt) {
        groups.resize(size_t(count));
        const int wanted = count;
        if (getgrouplist(name.constData(), user.primaryGroup, groups.data(), &count) >= 0) {
            groups.resize(size_t(count));
            return groups;
        }
        // count now holds the number needed.
        count = std::max(count, wanted * 2);
    }
    return {};
}

} // namespace

SysResult<QString> UserDatabase::userName(uid_t uid)
{
    const auto entry = lookUpUid(uid);
    return entry.ok() ? SysResult<QString>::success(entry.value.name)
                      : SysResult<QString>::failure(entry.error);
}

QString UserDatabase::hostName()
{
    return QSysInfo::machineHostName();
}

QString UserDatabase::accountText(const QString &userName)
{
    return hostName() + QLatin1Char('/') + userName;
}

bool UserDatabase::isMemberOfAnyGroup(uid_t uid, const QStringList &groupNames)
{
    const auto user = lookUpUid(uid);
    if (!user.ok())
        return false;
    const std::vector<gid_t> groups = groupsOf(user.value);
    for (const QString &groupName : groupNames) {
        const auto gid = groupId(groupName);
        if (gid && std::find(groups.begin(), groups.end(), *gid) != groups.end())
            return true;
    }
    return false;
}
