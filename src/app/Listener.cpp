#include "Listener.h"

#include "ListenerTask.h"

#include <QThread>

Listener::Listener(QSharedPointer<QSettings> settings, QSharedPointer<CRequestMapper> requestMapper,
                   QObject *parent)
    : QObject(parent), m_poThread(new QThread()),
      m_poTask(new ListenerTask(std::move(settings), std::move(requestMapper)))
{
    m_poThread->start(QThread::InheritPriority);
    m_poTask->moveToThread(m_poThread.data());
    connect(this, &Listener::start, m_poTask.data(), &ListenerTask::startListening);
    connect(this, &Listener::stop, m_poTask.data(), &ListenerTask::stopListening);
    Q_EMIT start();
}

Listener::~Listener()
{
    if (m_poTask)
        Q_EMIT stop();
    disconnect();
    // A dispatcher still waiting for its port gives up rather than hold the exit back.
    m_poThread->requestInterruption();
    // The server, its pool and the handler threads go down on the listener thread before
    // it ends, so nothing of them outlives the process's orderly exit.
    QMetaObject::invokeMethod(m_poTask.data(), &ListenerTask::shutdown, Qt::BlockingQueuedConnection);
    m_poThread->quit();
    m_poThread->wait();
    m_poTask.reset();
    m_poThread.reset();
}
