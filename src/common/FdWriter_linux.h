#pragma once

#include <QByteArray>

// Writes every byte to a file descriptor, resuming after short writes and EINTR.
// False on any other failure (errno tells why).
bool writeAllToFd(int fd, const QByteArray &bytes);
