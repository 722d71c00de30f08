#include "ModuleSymbols.h"

#include <QFile>
#include <dlfcn.h>
#include <elf.h>
#include <link.h>

namespace {

QString lastLinkerError()
{
    const char *error = ::dlerror();
    return error ? QString::fromLocal8Bit(error) : QStringLiteral("unknown error");
}

bool isFunctionSymbol(const ElfW(Sym) * symbol)
{
    // ELF32_ST_TYPE serves both ELF classes.
    const unsigned type = ELF32_ST_TYPE(symbol->st_info);
    return type == STT_FUNC || type == STT_GNU_IFUNC;
}

} // namespace

ModuleSymbols::ModuleSymbols(const QString &libraryFile)
{
    // RTLD_NOLOAD: only a library already in the process is found, so no code of a file
    // that has not been verified can run here.
    m_poHandle.reset(::dlopen(QFile::encodeName(libraryFile).constData(), RTLD_LAZY | RTLD_NOLOAD));
    link_map *object = nullptr;
    if (!m_poHandle || ::dlinfo(m_poHandle.get(), RTLD_DI_LINKMAP, &object) != 0 || !object) {
        m_oError = lastLinkerError();
        m_poHandle.reset();
        return;
    }
    m_poOwnObject = object;
}

ModuleSymbols::~ModuleSymbols() = default;

ModuleSymbols::Lookup ModuleSymbols::find(const QByteArray &name) const
{
    if (!m_poHandle)
        return {nullptr, Found::Nowhere, m_oError};
    void *address = ::dlsym(m_poHandle.get(), name.constData());
    if (!address)
        return {nullptr, Found::Nowhere, lastLinkerError()};
    // The object that defines the address, and its symbol entry: a name the linker found in
    // a library that the module links is someone else's function.
    Dl_info info{};
    ElfW(Sym) *symbol = nullptr;
    link_map *owner = nullptr;
    if (::dladdr1(address, &info, reinterpret_cast<void **>(&symbol), RTLD_DL_SYMENT) == 0 ||
        ::dladdr1(address, &info, reinterpret_cast<void **>(&owner), RTLD_DL_LINKMAP) == 0)
        return {nullptr, Found::Elsewhere, {}};
    if (owner != m_poOwnObject || !symbol || info.dli_saddr != address || !isFunctionSymbol(symbol))
        return {nullptr, Found::Elsewhere, {}};
    return {reinterpret_cast<QFunctionPointer>(address), Found::Own, {}};
}

void ModuleSymbols::Close::operator()(void *handle) const
{
    ::dlclose(handle);
}
