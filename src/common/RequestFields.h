#pragma once

#include "SharedTypes.h"
#include "UploadedFile.h"

#include <QByteArray>

// What one command request names, as the controller took it from path, parameters and
// headers. The launcher and the permission check read it; only the permission check
// sets the unprivileged flag.
struct RequestFields
{
    QByteArray libraryName;
    QByteArray sessionId;
    QByteArray commandId;
    QByteArray command;
    tRequestMap requestMap;
    tSessionParamsMap sessionParams;
    bool unprivileged = false;
    // The request's uploads, whose paths requestMap names; the job keeps them until it ends.
    UploadedFiles uploads;
};
