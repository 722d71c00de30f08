#pragma once

#include "SysResult.h"

#include <QString>
#include <sys/types.h>

// Account names from the user and group databases. Only the re-entrant calls are used:
// connection threads ask concurrently.
class UserDatabase
{
public:
    // ENOENT when the uid has no entry.
    static SysResult<QString> userName(uid_t uid);
    // The host name stands in for the account's domain.
    static QString hostName();
    // host, "/", user
    static QString accountText(const QString &userName);
};
