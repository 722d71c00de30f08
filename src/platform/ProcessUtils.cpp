#include "ProcessUtils.h"

ProcessUtils::~ProcessUtils() = default;
