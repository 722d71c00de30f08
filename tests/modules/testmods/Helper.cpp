#include <QByteArray>

QByteArray vyrTestHelperText()
{
    return "from the helper library";
}
