#include "ListenerTask.h"

#include "protocol/CRequestMapper.h"
#include "transport/CSslListener.h"

#include <QSettings>

ListenerTask::ListenerTask(QSharedPointer<QSettings> settings, QSharedPointer<CRequestMapper> requestMapper)
    : m_poSettings(std::move(settings)), m_poRequestMapper(std::move(requestMapper))
{
}

ListenerTask::~ListenerTask()
{
    stopListening();
}

void ListenerTask::shutdown()
{
    m_poServer.reset();
}

void ListenerTask::startListening()
{
    m_poServer = std::make_unique<CSslListener>(m_poSettings.data(), m_poRequestMapper.data(), nullptr);
}

void ListenerTask::stopListening()
{
    if (m_poServer)
        m_poServer->close();
}
