#pragma once

#include <QString>

// Says on standard error (the journal, under the service manager) that the log file cannot
// be opened or written, with the reason; once per process, however many lines are lost, so
// a full disk does not turn into a flood of its own. Any thread.
void reportLogFileFailure(const QString &filePath, const QString &reason);
