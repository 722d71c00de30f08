#include "CommandRunner.h"

CommandRunner::~CommandRunner() = default;
