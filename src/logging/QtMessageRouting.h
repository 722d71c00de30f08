#pragma once

#include <QtGlobal>

// While it lives, qDebug/qWarning/qCWarning and the rest (from modules, from Qt itself) reach
// the server's log as lines of the server channel, so a module written against the SDK logs
// where the server does. Made once at start-up on the main thread; the previous handler comes
// back when it goes, before the channels do.
class QtMessageRouting
{
public:
    QtMessageRouting();
    ~QtMessageRouting();
    QtMessageRouting(const QtMessageRouting &) = delete;
    QtMessageRouting &operator=(const QtMessageRouting &) = delete;

private:
    QtMessageHandler m_pPrevious;
};
