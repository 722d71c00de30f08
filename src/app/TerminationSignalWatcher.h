#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM (how a service manager stops us) and SIGINT end the event loop cleanly. The
// signal handler only writes to a pipe; the log line and the quit happen on the main
// thread, where they are safe.
class TerminationSignalWatcher : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignalWatcher(QObject *parent = nullptr);
    ~TerminationSignalWatcher() override;

private:
    void onSignalReadable();

    // Owned through the Qt parent; lives on the main thread.
    QSocketNotifier *m_poNotifier = nullptr;
};
