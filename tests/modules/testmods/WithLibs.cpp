// A module with an additional library of its own, found through its run path in the
// directory WithLibs/ beside it.

#include "TestModuleQueries.h"

QByteArray vyrTestHelperText(); // in the additional library

VYR_MODULE_COMMAND(Helper)
{
    return vyrTestHelperText();
}

VYR_TEST_MODULE_QUERIES(false, false)
