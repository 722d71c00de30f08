#pragma once

#include "LogChannel.h"

// The five channels of the process; each lives from first use to process exit.
LogChannel &serverLogChannel();       // "VYR-server"
LogChannel &processUtilsLogChannel(); // "processUtils"
LogChannel &moduleToolsLogChannel();  // "moduleTools"
LogChannel &fileVersionLogChannel();  // "fileVersion"
LogChannel &vyrcommonsLogChannel();   // "vyrcommons"
