#include "CTask.h"

#include "logging/LogStatement.h"
#include "modules/SlotGuard.h"

#include <QTimer>

CTask::CTask(QObject *parent) : QObject(parent) {}

void CTask::SetDefaultInterval(int v_iInterval)
{
    m_iDefaultInterval.store(v_iInterval);
    VYR_LOG_SERVER(Debug) << "Default interval=" << v_iInterval;
}

void CTask::CreateTimer(const QByteArray &v_oSessionID)
{
    runGuarded("CTask", "CreateTimer", [&] {
        // The task is the parent, so a timer still in the table when the timer thread
        // ends is deleted with the task, on that thread.
        auto *timer = new QTimer(this);
        timer->setInterval(m_iDefaultInterval.load());
        timer->setSingleShot(true);
        timer->start();
        VYR_LOG_SERVER(Debug) << "Timer created: " << static_cast<const void *>(timer);
        Q_EMIT TimerCreated(v_oSessionID, timer);
    });
}

void CTask::RestartTimer(QTimer *v_poTimer, int v_iInterval)
{
    runGuarded("CTask", "RestartTimer", [&] {
        if (!v_poTimer)
            return;
        VYR_LOG_SERVER(Debug) << "Timers remain time=" << v_poTimer->remainingTime()
                              << ".Restart timer=" << static_cast<const void *>(v_poTimer);
        v_poTimer->start(v_iInterval);
    });
}

void CTask::DeleteTimerLater(QTimer *v_poTimer)
{
    runGuarded("CTask", "DeleteTimerLater", [&] {
        if (!v_poTimer)
            return;
        VYR_LOG_SERVER(Debug) << "Timer stopped and prepared for delete timer address="
                              << static_cast<const void *>(v_poTimer);
        v_poTimer->stop();
        v_poTimer->deleteLater();
    });
}
