#include "ProcessUtilsFactory.h"
#include "ProcessUtilsLinuxImpl.h"

std::unique_ptr<ProcessUtils> createProcessUtils()
{
    return std::make_unique<ProcessUtilsLinuxImpl>();
}
