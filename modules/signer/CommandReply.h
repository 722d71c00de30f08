#pragma once

#include <QByteArray>
#include <functional>

// Runs one command and turns a SignerError into the exception the server answers a throwing
// command with, so the page reads "500|" followed by {"code","message"}. Anything else that
// escapes (a store's bad_alloc, say) becomes STORE_ERROR rather than the server's generic
// text, so the page always gets a code.
QByteArray replyOrThrowJson(const std::function<QByteArray()> &command);
