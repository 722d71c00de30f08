#include "TestAccount.h"

#include "ProgramRun.h"

#include <QCoreApplication>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace {
bool runQuietly(const QString &program, const QStringList &arguments)
{
    return runProgram(program, arguments, QProcessEnvironment::systemEnvironment(), 30000).exitCode == 0;
}
} // namespace

TestAccount::TestAccount(const QString &suffix)
{
    if (::geteuid() != 0)
        return;
    m_oName = QStringLiteral("vyrt%1%2").arg(QCoreApplication::applicationPid()).arg(suffix);
    runQuietly("userdel", {"-r", m_oName});
    if (!runQuietly("useradd", {"-m", "-s", "/bin/sh", m_oName}))
        return;
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd *found = nullptr;
    if (::getpwnam_r(m_oName.toLocal8Bit().constData(), &entry, buffer.data(), buffer.size(), &found) != 0 ||
        !found)
        return;
    m_iUid = entry.pw_uid;
    m_iGid = entry.pw_gid;
    m_oHome = QString::fromLocal8Bit(entry.pw_dir);
    m_bValid = true;
}

TestAccount::~TestAccount()
{
    if (m_bValid) {
        // Anything the account still runs would keep userdel from removing it.
        runQuietly("pkill", {"-KILL", "-u", m_oName});
        runQuietly("userdel", {"-r", "-f", m_oName});
    }
}

bool TestAccount::chownTree(const QString &path) const
{
    return m_bValid && runQuietly("chown", {"-R", QStringLiteral("%1:%2").arg(m_iUid).arg(m_iGid), path});
}

void TestAccount::runAs(QProcess &process) const
{
    process.setChildProcessModifier([uid = m_iUid, gid = m_iGid] {
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(127);
    });
}
