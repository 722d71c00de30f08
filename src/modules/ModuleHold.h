#pragma once

#include <memory>
#include <utility>

class DllModule;

// A job's share in keeping one loaded module: while any copy lives, the module is neither
// unloaded nor destroyed, whatever happens to the sessions that use it. Handed out by
// DllManager::holdModule. Copies may be dropped on any thread; the last one asks the
// manager, on the manager's thread, to let the module go once no session uses it either.
// A hold must not outlive the manager that gave it (the launcher, which keeps the holds,
// is shut down first).
class ModuleHold
{
public:
    ModuleHold() = default;

    DllModule *get() const { return m_poModule.get(); }
    DllModule *operator->() const { return m_poModule.get(); }
    explicit operator bool() const { return m_poModule != nullptr; }
    void reset() { m_poModule.reset(); }

private:
    friend class DllManager;
    explicit ModuleHold(std::shared_ptr<DllModule> module) : m_poModule(std::move(module)) {}

    // Shared by the copies; its deleter releases the hold, never the module.
    std::shared_ptr<DllModule> m_poModule;
};
