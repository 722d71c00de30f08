// Open may be run by clients of other accounts, Closed may not.

#include "TestModuleQueries.h"

VYR_MODULE_COMMAND(Open)
{
    return "open";
}

VYR_MODULE_COMMAND(Closed)
{
    return "closed";
}

VYR_TEST_MODULE_QUERIES(false, function == &Open)
