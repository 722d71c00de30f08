#pragma once

#include <QString>
#include <sys/types.h>

class QProcess;

// An ordinary local account made for one test run (useradd) and removed with it
// (userdel). Needs root; valid() is false elsewhere, and tests that need it skip.
class TestAccount
{
public:
    // The suffix tells apart several accounts of one test run.
    explicit TestAccount(const QString &suffix = QString());
    ~TestAccount();
    TestAccount(const TestAccount &) = delete;
    TestAccount &operator=(const TestAccount &) = delete;

    bool valid() const { return m_bValid; }
    const QString &name() const { return m_oName; }
    uid_t uid() const { return m_iUid; }
    gid_t gid() const { return m_iGid; }
    QString home() const { return m_oHome; }

    // Hands a directory tree (an application directory) to the account.
    bool chownTree(const QString &path) const;
    // The process, once started, runs as the account, without root's supplementary groups.
    void runAs(QProcess &process) const;

private:
    QString m_oName;
    QString m_oHome;
    uid_t m_iUid = 0;
    gid_t m_iGid = 0;
    bool m_bValid = false;
};
