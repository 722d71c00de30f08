#pragma once

#include "ProcessUtils.h"

#include <memory>

// The platform's ProcessUtils. Defined in its own library (vyr_platform_factory) so that a
// test executable can link a double instead.
std::unique_ptr<ProcessUtils> createProcessUtils();
