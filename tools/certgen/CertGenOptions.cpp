#include "CertGenOptions.h"

#include <QStandardPaths>

QString CertGenOptions::defaultCaDir(bool privileged, const QString &stateDir)
{
    if (privileged)
        return stateDir + QStringLiteral("/ca");
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/veltrane/ca");
}

QString CertGenOptions::seedPathIn(const QString &stateDir)
{
    return stateDir + QStringLiteral("/seed");
}
