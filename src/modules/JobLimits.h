#pragma once

class CSettings;

// How many job threads the launcher keeps and how much one session, and all of them, may
// have running or waiting to be collected. Read once, when the launcher is made.
struct JobLimits
{
    int workerThreads = 0;
    int maxAbandonedThreads = 0;
    int maxJobsPerSession = 0;
    int maxResultsPerSession = 0;
    int maxResults = 0;

    static JobLimits FromSettings(const CSettings &settings);
};
