#pragma once

#include "ModuleFileIdentity.h"

#include <QMutex>
#include <QString>
#include <map>

// The process's memory of module files whose signature was verified: a file is read and
// verified again only when its identity (device, inode, size, modification and change time)
// differs from the one it had when it last passed. Every request that names a module asks,
// and reading a module of tens of megabytes to check its signature took longer than the
// request itself.
class VerifiedModules
{
public:
    // Whether the module file carries a valid signature; any thread.
    static bool verify(const QString &path);

private:
    static bool remembered(const QString &path, const ModuleFileIdentity &identity);
    static void remember(const QString &path, const ModuleFileIdentity &identity);

    static inline QMutex s_mutex;
    // Any thread, under s_mutex.
    static inline std::map<QString, ModuleFileIdentity> s_verified;
};
