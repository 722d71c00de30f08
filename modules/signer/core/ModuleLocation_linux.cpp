#include "ModuleLocation.h"

#include <QFileInfo>
#include <dlfcn.h>

namespace vyr::signer {

QString moduleDirectory()
{
    // Any address inside this object names it; the function itself is the nearest one.
    Dl_info info = {};
    if (dladdr(reinterpret_cast<const void *>(&moduleDirectory), &info) == 0 || !info.dli_fname)
        return {};
    return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).absolutePath();
}

} // namespace vyr::signer
