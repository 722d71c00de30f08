#include "JobLimits.h"

#include "settings/CSettings.h"

#include <QThread>
#include <algorithm>

JobLimits JobLimits::FromSettings(const CSettings &settings)
{
    JobLimits limits;
    limits.workerThreads = settings.ReadJobWorkerThreads();
    if (limits.workerThreads <= 0)
        limits.workerThreads = std::max(2, QThread::idealThreadCount());
    limits.maxAbandonedThreads = settings.ReadMaxAbandonedJobThreads();
    limits.maxJobsPerSession = settings.ReadMaxJobsPerSession();
    limits.maxResultsPerSession = settings.ReadMaxResultsPerSession();
    limits.maxResults = settings.ReadMaxResults();
    return limits;
}
