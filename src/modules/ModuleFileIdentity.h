#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

// What tells one state of a file from another without reading it. The change time is set by
// the kernel on every write, rename or change of attributes and cannot be set back by a caller,
// so a file with the same identity has not been touched since, as long as the change time had
// already passed when the identity was taken (the kernel stamps with a coarse clock: two writes
// within one of its ticks share a stamp).
struct ModuleFileIdentity
{
    quint64 device = 0;
    quint64 inode = 0;
    qint64 size = 0;
    qint64 modifiedNs = 0; // since the epoch
    qint64 changedNs = 0;

    bool operator==(const ModuleFileIdentity &) const = default;
    // Empty when the path names nothing that can be looked at.
    static std::optional<ModuleFileIdentity> of(const QString &path);
};
