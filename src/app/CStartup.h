#pragma once

#include <QObject>
#include <QSharedPointer>

class QCoreApplication;

// Brings the server up on the main thread and takes it down when the event loop ends.
class CStartup : public QObject
{
    Q_OBJECT
public:
    CStartup(int &argc, char **argv);
    ~CStartup() override;

    bool isConsole() const { return m_bConsole; }

public Q_SLOTS:
    void Stop();

private:
    void Start();
    static bool hasConsoleSwitch(int argc, char **argv);
    void createApplication(int &argc, char **argv);

    bool m_bConsole = false;
    QSharedPointer<QCoreApplication> m_poApplication;
};
