#include "UserDatabase_linux.h"

#include <QSysInfo>
#include <cerrno>
#include <pwd.h>
#include <vector>

namespace {

constexpr size_t kInitialBufferSize = 4096;
constexpr size_t kMaxBufferSize = size_t{1024} * 1024;

} // namespace

SysResult<QString> UserDatabase::userName(uid_t uid)
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
            return SysResult<QString>::failure(error);
        if (!result)
            return SysResult<QString>::failure(ENOENT);
        return SysResult<QString>::success(QString::fromLocal8Bit(entry.pw_name));
    }
}

QString UserDatabase::hostName()
{
    return QSysInfo::machineHostName();
}

QString UserDatabase::accountText(const QString &userName)
{
    return hostName() + QLatin1Char('/') + userName;
}
