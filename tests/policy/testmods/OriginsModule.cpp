// A module named like one of the CORS table's rows. Built several times: with and without
// GetAllowedOrigins (VYR_TEST_ORIGINS), throwing from it (VYR_TEST_THROW), unsigned and
// tampered.

#include <stdexcept>
#include <veltrane/VyrModule.h>

#if defined(VYR_TEST_THROW)
VYR_MODULE_GET_ALLOWED_ORIGINS
{
    throw std::runtime_error("no origins today");
}
#elif defined(VYR_TEST_ORIGINS)
VYR_MODULE_GET_ALLOWED_ORIGINS
{
    // Static data inside this library: the answer is gone once the library is unloaded.
    return QByteArrayLiteral(VYR_TEST_ORIGINS);
}
#endif

VYR_MODULE_COMMAND(Which)
{
    return VYR_TEST_MODULE_NAME;
}
