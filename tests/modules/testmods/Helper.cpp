#include "Helper.h"

QByteArray vyrTestHelperText()
{
    return "from the helper library";
}
