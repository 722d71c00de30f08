#include "LogFileFailure.h"
#include "common/FdWriter_linux.h"

#include <atomic>
#include <unistd.h>

void reportLogFileFailure(const QString &filePath, const QString &reason)
{
    static std::atomic<bool> s_bReported{false};
    if (s_bReported.exchange(true))
        return;
    // Not through the log: the log is what failed.
    const QString line = QStringLiteral("Log file %1 cannot be written (%2); the server keeps serving, "
                                        "and its log lines are lost until the file can be written again\n")
                             .arg(filePath, reason);
    static_cast<void>(writeAllToFd(STDERR_FILENO, line.toUtf8()));
}
