#pragma once

#include "keyprotection/UniquePassSources.h"

#include <QString>

// What one run of the provisioning tool works on.
struct CertGenOptions
{
    QString appDir; // where the server's INI, certs/ and the executable live
    QString caDir;  // the authority's key and certificate
    // The machine identity the key is encrypted for; the server reads the system's.
    UniquePassSources identity = UniquePassSources::system();
    bool force = false;
    bool privileged = false; // root: may create the machine seed

    // Root's authority is one per machine, in the state directory; an ordinary user keeps
    // one under the user's data directory ($XDG_DATA_HOME/veltrane/ca).
    static QString defaultCaDir(bool privileged, const QString &stateDir);
    static QString seedPathIn(const QString &stateDir);
};
