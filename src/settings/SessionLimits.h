#pragma once

#include <QtGlobal>

class QSettings;

// How much one server keeps for its client sessions: how many may be open at once, how many
// values each may hold and how many bytes those values may take together (keys included).
// Every page and every local account can open sessions, so none of this may grow unbounded.
struct SessionLimits
{
    static constexpr int kDefaultMaxSessions = 10000;
    static constexpr int kDefaultMaxValues = 64;
    static constexpr qint64 kDefaultMaxValueBytes = 32768;

    int maxSessions = kDefaultMaxSessions;
    int maxValues = kDefaultMaxValues;
    qint64 maxValueBytes = kDefaultMaxValueBytes;

    // From a QSettings positioned on the sessions group; a key that is missing or not a
    // positive number keeps its default, so a typo cannot lift a cap.
    static SessionLimits read(const QSettings &sessionsGroup);
};
