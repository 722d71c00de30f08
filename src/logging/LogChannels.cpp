#include "LogChannels.h"

LogChannel &serverLogChannel()
{
    static LogChannel channel(QStringLiteral("VYR-server"));
    return channel;
}

LogChannel &processUtilsLogChannel()
{
    static LogChannel channel(QStringLiteral("processUtils"));
    return channel;
}

LogChannel &moduleToolsLogChannel()
{
    static LogChannel channel(QStringLiteral("moduleTools"));
    return channel;
}

LogChannel &fileVersionLogChannel()
{
    static LogChannel channel(QStringLiteral("fileVersion"));
    return channel;
}

LogChannel &vyrcommonsLogChannel()
{
    static LogChannel channel(QStringLiteral("vyrcommons"));
    return channel;
}
