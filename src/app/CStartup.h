#pragma once

#include <QObject>
#include <QScopedPointer>
#include <QSharedPointer>

class CRequestMapper;
class HttpSessionStore;
class Listener;
class QCoreApplication;
class QSettings;
class QtMessageRouting;

// Brings the server up on the main thread and takes it down when the event loop ends.
class CStartup : public QObject
{
    Q_OBJECT
public:
    CStartup(int &argc, char **argv);
    ~CStartup() override;

public Q_SLOTS:
    void Stop();

private:
    void Start();
    static bool hasConsoleSwitch(int argc, char **argv);
    void createApplication(int &argc, char **argv);
    void refuseStartWithoutSettingsFile();
    static void startLogging();
    void refuseSecondInstance();
    void createSessionStore();
    void startListener();

    bool m_bConsole = false;
    // Destroyed last, after everything that needs the event loop's objects.
    QScopedPointer<QCoreApplication> m_poApplication;
    QScopedPointer<QtMessageRouting> m_poQtMessages;   // main thread; routes every thread's messages
    QScopedPointer<QSettings> m_poSessionSettings;     // the store's; guarded by the store
    QScopedPointer<HttpSessionStore> m_poSessionStore; // main thread; published process-wide
    QSharedPointer<QSettings> m_poListenerSettings;    // read on the listener thread only
    QSharedPointer<CRequestMapper> m_poRequestMapper;  // service() runs on handler threads
    QScopedPointer<Listener> m_poListener;
};
