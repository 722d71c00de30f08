#include "ControllerContext.h"

#include "CTimeout.h"
#include "http/ConnectionSocket.h"
#include "http/HttpSessionStore.h"
#include "modules/CLauncher.h"
#include "modules/DllManager.h"
#include "policy/CORSSettings.h"
#include "settings/CSettings.h"

ControllerContext ControllerContext::process()
{
    return {&CTimeout::instance,      &DllManager::instance, &CLauncher::GetInstance,
            &CORSSettings::instance,  &CSettings::instance,  &HttpSessionStore::published,
            &ConnectionSocket::peerOf};
}
