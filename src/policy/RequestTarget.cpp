#include "RequestTarget.h"

#include "http/HttpRequest.h"

#include <QList>

RequestTarget RequestTarget::of(const QByteArray &path, const QByteArray &cmdParameter)
{
    QList<QByteArray> parts;
    for (const QByteArray &segment : path.split('/')) {
        if (!segment.isEmpty())
            parts.append(segment);
    }
    RequestTarget target;
    if (parts.isEmpty()) {
        target.command = cmdParameter;
    } else if (parts.size() == 1 && cmdParameter.isEmpty()) {
        target.command = parts[0];
    } else {
        target.module = parts[0];
        target.command = parts.size() == 1 ? cmdParameter : parts[1];
    }
    if (target.module.contains(".."))
        target.module = kClimbingModuleReplacement;
    return target;
}

RequestTarget RequestTarget::of(const HttpRequest &request)
{
    return of(request.path(), request.parameter("cmd"));
}
