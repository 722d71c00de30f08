#include "FatalSignalHandler.h"

#include <QByteArray>
#include <QFile>
#include <atomic>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {
constexpr int kFatalSignals[] = {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT};
constexpr char kMessage[] = " critical [VYR-server]:signalHandler: !!! APPLICATION TERMINATED !!! signal:";

// What the handler cannot find out safely, made before any fault.
struct CrashReport
{
    QByteArray logFilePath; // empty: standard error only
    long utcOffsetSeconds;  // local time zone when prepared
    // A replaced report is never freed, since a handler may still be reading it; it stays
    // reachable from its successor.
    const CrashReport *previous;
};

// Published by the main thread (at entry and again once the log is set up), read by the
// handler on whichever thread faults.
std::atomic<const CrashReport *> g_poReport{nullptr};

// Builds the line in a fixed buffer with nothing but arithmetic: the library's formatting
// may allocate or take locks, which a fault may have left held.
class LineBuffer
{
public:
    LineBuffer &text(const char *value)
    {
        while (*value && m_iLength < sizeof(m_aText))
            m_aText[m_iLength++] = *value++;
        return *this;
    }
    LineBuffer &number(long long value, int width = 1)
    {
        char digits[24];
        int count = 0;
        unsigned long long magnitude = value < 0 ? 0ull - static_cast<unsigned long long>(value) : value;
        do {
            digits[count++] = static_cast<char>('0' + magnitude % 10);
            magnitude /= 10;
        } while (magnitude != 0 && count < 20);
        while (count < width)
            digits[count++] = '0';
        if (value < 0)
            digits[count++] = '-';
        while (count > 0 && m_iLength < sizeof(m_aText))
            m_aText[m_iLength++] = digits[--count];
        return *this;
    }
    // "YYYY-MM-DD hh:mm:ss:mmm" as the log's own lines start (civil date from the day count).
    LineBuffer &localTime(long utcOffsetSeconds)
    {
        timespec now = {};
        ::clock_gettime(CLOCK_REALTIME, &now);
        const long long local = now.tv_sec + utcOffsetSeconds;
        const long long secondOfDay = local % 86400;
        const long long days = local / 86400 + 719468;
        const long long era = days / 146097, dayOfEra = days - era * 146097;
        const long long yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
        const long long dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
        const long long shiftedMonth = (5 * dayOfYear + 2) / 153;
        const long long month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
        number(yearOfEra + era * 400 + (month <= 2 ? 1 : 0), 4).text("-").number(month, 2).text("-");
        number(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1, 2).text(" ").number(secondOfDay / 3600, 2);
        text(":").number(secondOfDay / 60 % 60, 2).text(":").number(secondOfDay % 60, 2).text(":");
        return number(now.tv_nsec / 1000000, 3);
    }
    void writeTo(int fd) const
    {
        for (size_t done = 0; done < m_iLength;) {
            const ssize_t written = ::write(fd, m_aText + done, m_iLength - done);
            if (written <= 0)
                return;
            done += static_cast<size_t>(written);
        }
    }

private:
    char m_aText[256];
    size_t m_iLength = 0;
};

void signalHandler(int signalNumber)
{
    const int savedErrno = errno;
    if (const CrashReport *report = g_poReport.load()) {
        LineBuffer line;
        line.localTime(report->utcOffsetSeconds).text(" [").number(::getpid()).text(":").number(::gettid());
        line.text("]").text(kMessage).number(signalNumber).text("\n");
        line.writeTo(STDERR_FILENO);
        // Opened now rather than kept open, so that after a rotation the line still lands
        // in the current file; open, write and close are safe in a signal handler.
        if (!report->logFilePath.isEmpty()) {
            const int fd =
                ::open(report->logFilePath.constData(), O_WRONLY | O_APPEND | O_CLOEXEC | O_NOCTTY);
            if (fd >= 0) {
                line.writeTo(fd);
                ::close(fd);
            }
        }
    }
    errno = savedErrno;
    // SA_RESETHAND has put the default action back: the fault ends the process as it would
    // have without us, core dump included.
    ::raise(signalNumber);
}

long currentUtcOffset()
{
    const std::time_t now = std::time(nullptr);
    std::tm local = {};
    return ::localtime_r(&now, &local) ? local.tm_gmtoff : 0;
}
} // namespace

void installFatalSignalHandler(const QString &logFilePath)
{
    g_poReport.store(new CrashReport{QFile::encodeName(logFilePath), currentUtcOffset(), g_poReport.load()});
    struct sigaction action = {};
    action.sa_handler = signalHandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND;
    for (const int signalNumber : kFatalSignals)
        ::sigaction(signalNumber, &action, nullptr);
}
