#include "CORSSettings.h"

#include <QFile>
#include <dlfcn.h>

CORSSettings::ModuleLibrary::ModuleLibrary(const QString &libraryFile)
{
    // Every symbol bound now: a library that cannot run fails here, not inside the call.
    m_poHandle.reset(::dlopen(QFile::encodeName(libraryFile).constData(), RTLD_NOW | RTLD_LOCAL));
    if (!m_poHandle) {
        const char *error = ::dlerror();
        m_oError = error ? QString::fromLocal8Bit(error) : QStringLiteral("unknown error");
    }
}

void *CORSSettings::ModuleLibrary::resolve(const char *symbol) const
{
    return m_poHandle ? ::dlsym(m_poHandle.get(), symbol) : nullptr;
}

void CORSSettings::ModuleLibrary::Close::operator()(void *handle) const
{
    ::dlclose(handle);
}
