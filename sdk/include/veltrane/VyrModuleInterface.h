#pragma once

// The types and export names the server and a module agree on; the server compiles against
// this same header, so the two cannot drift apart. Modules include VyrModule.h instead.

#include <QByteArray>
#include <QMap>
#include <QMultiMap>
#include <QVariant>

// Everything a request carries: parameters, headers (lower-case names), cookies and the
// entries "keyHttpBody", "keyHttpMethod", "keyHttpPath", "keyHttpVersion" and kVyrOriginKey.
using tRequestMap = QMultiMap<QByteArray, QByteArray>;
// Values stored in the client session.
using tSessionParamsMap = QMap<QByteArray, QVariant>;
// A command function: its result is the reply body.
using tpfun = QByteArray (*)(const tRequestMap &, const tSessionParamsMap &);
// Init and DeInit.
using tpInitFun = void (*)();
// IsGuiFunction and CanUnprivilegedRun, asked about one command function.
using tpCommandQueryFun = bool (*)(tpfun);
// CanUseOnTerminalServices.
using tpModuleQueryFun = bool (*)();
// GetAllowedOrigins: comma-separated origins.
using tpOriginsFun = QByteArray (*)();

// The page's "Origin" header, empty for a local program. The server writes it last and drops
// any parameter, header or cookie of that name first, so a module may trust it.
inline constexpr char kVyrOriginKey[] = "keyHttpOrigin";
// For each multipart file field, the path of the server's own copy of the upload (this
// prefix followed by the field name) and the file name the client gave (the second prefix).
// Written like kVyrOriginKey: every entry with either prefix that the request carried is
// dropped first. The copy lives until the command's job has ended; only its path is given.
inline constexpr char kVyrUploadedFilePrefix[] = "keyUploadedFile.";
inline constexpr char kVyrUploadedNamePrefix[] = "keyUploadedFileName.";

// The plain (C linkage) names of the optional exports above; none is ever a command.
inline constexpr char kVyrInitExport[] = "Init";
inline constexpr char kVyrDeInitExport[] = "DeInit";
inline constexpr char kVyrGuiQueryExport[] = "IsGuiFunction";
inline constexpr char kVyrUnprivilegedQueryExport[] = "CanUnprivilegedRun";
inline constexpr char kVyrTerminalQueryExport[] = "CanUseOnTerminalServices";
inline constexpr char kVyrOriginsExport[] = "GetAllowedOrigins";
