#include "QueuedCallTypes.h"

#include "SharedTypes.h"

void registerQueuedCallTypes()
{
    qRegisterMetaType<tpfun>("tpfun");
    qRegisterMetaType<DllModule *>("DllModule *");
    qRegisterMetaType<tpInitFun>("tpInitFun");
    qRegisterMetaType<tRequestMap>("tRequestMap");
    qRegisterMetaType<tSessionParamsMap>("tSessionParamsMap");
    qRegisterMetaType<tResultType>("tResultType");
}
