#pragma once

#include <QByteArray>
#include <QMetaType>
#include <veltrane/VyrModuleInterface.h>

// The stored result of one command.
using tResultType = QByteArray;

class DllModule;
Q_DECLARE_OPAQUE_POINTER(DllModule *)
Q_DECLARE_METATYPE(DllModule *)
Q_DECLARE_METATYPE(tpfun)
Q_DECLARE_METATYPE(tpInitFun)
