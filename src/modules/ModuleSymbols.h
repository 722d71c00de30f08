#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <memory>

// The exports of one loaded module library, looked up in that library file alone. The
// dynamic linker's search on a library handle also walks every library the module links,
// so a name taken from a URL would otherwise reach abort, exit or any function of the C
// library or Qt.
class ModuleSymbols
{
public:
    enum class Found
    {
        Nowhere,   // no definition at all
        Own,       // a function defined in the library file itself
        Elsewhere, // defined only in another library of the process, or not a function
    };
    struct Lookup
    {
        QFunctionPointer function = nullptr; // set for Own only
        Found found = Found::Nowhere;
        QString error; // the linker's word for Nowhere
    };

    // libraryFile: a library the process has loaded already; adds nothing to the process and
    // keeps the library mapped until destroyed. Check isValid(); errorString() tells why not.
    explicit ModuleSymbols(const QString &libraryFile);
    ~ModuleSymbols();
    ModuleSymbols(const ModuleSymbols &) = delete;
    ModuleSymbols &operator=(const ModuleSymbols &) = delete;

    bool isValid() const { return m_poOwnObject != nullptr; }
    QString errorString() const { return m_oError; }
    Lookup find(const QByteArray &name) const;

private:
    struct Close
    {
        void operator()(void *handle) const;
    };
    std::unique_ptr<void, Close> m_poHandle;
    // The dynamic linker's record of the library file; compared, never dereferenced here.
    const void *m_poOwnObject = nullptr;
    QString m_oError;
};
