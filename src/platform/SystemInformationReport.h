#pragma once

#include "ProcessUtils.h"

#include <QByteArray>

// What the TEST command says when the snapshot could not be taken (its reply is then 500).
inline constexpr char kSystemInformationFailureText[] =
    "Problem occurred when trying to obtain system information";

// Logs the machine snapshot (process list, operating system facts, devices) on the server
// channel and answers "OK"; when a query throws, logs and answers kSystemInformationFailureText.
QByteArray runSystemInformationReport(ProcessUtils &processUtils);
