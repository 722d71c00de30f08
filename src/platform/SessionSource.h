#pragma once

#include <QList>
#include <QString>

// One login of a user: a desktop or console login, or a remote one.
struct LoginSession
{
    QString id;
    QString userName;
    QString seat; // "seat0" for the local console
    QString tty;
    bool active = false;
};

struct SessionQuery
{
    bool ok = false;
    int errorCode = 0;
    QList<LoginSession> sessions;
};

// Where the logged-on sessions come from: the login manager, or the login records.
class SessionSource
{
public:
    virtual ~SessionSource();
    virtual SessionQuery querySessions() = 0;
};
