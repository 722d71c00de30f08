#include "ProcessExit.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

void terminateProcess(int exitCode)
{
    QCoreApplication::exit(exitCode);
    std::fflush(nullptr);
    ::_exit(exitCode);
}
