#pragma once

#include <QByteArray>
#include <QMap>
#include <QMetaType>
#include <QMultiMap>
#include <QVariant>

// Everything a request carries: parameters, headers (lower-case names), cookies and the
// "keyHttp..." entries. Handed to module functions.
using tRequestMap = QMultiMap<QByteArray, QByteArray>;
// Values stored in a client session, handed to every module function.
using tSessionParamsMap = QMap<QByteArray, QVariant>;
// A module command function.
using tpfun = QByteArray (*)(const tRequestMap &, const tSessionParamsMap &);
// A module's Init or DeInit.
using tpInitFun = void (*)();
// The stored result of one command.
using tResultType = QByteArray;

class DllModule;
Q_DECLARE_OPAQUE_POINTER(DllModule *)
Q_DECLARE_METATYPE(DllModule *)
Q_DECLARE_METATYPE(tpfun)
Q_DECLARE_METATYPE(tpInitFun)
