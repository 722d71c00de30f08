#include "UniquePassSources.h"

UniquePassSources UniquePassSources::system()
{
    return {QStringLiteral(VYR_STATE_DIR "/seed"), QStringLiteral("/etc/machine-id"),
            QStringLiteral("/sys/firmware/dmi/tables/DMI")};
}
