#pragma once

#include "logging/LogStatement.h"

#include <exception>
#include <utility>

// Runs the body of a slot or thread entry; nothing it throws may leave the event loop, so
// every exception becomes a critical log line naming where it happened.
template <typename Body> void runGuarded(const char *className, const char *method, Body &&body) noexcept
{
    try {
        std::forward<Body>(body)();
    } catch (const std::exception &exception) {
        LogStatement(serverLogChannel(), LogLevel::Critical, QString::fromLatin1(className),
                     QString::fromLatin1(method))
            << "Unexpected exception: " << exception.what();
    } catch (...) {
        LogStatement(serverLogChannel(), LogLevel::Critical, QString::fromLatin1(className),
                     QString::fromLatin1(method))
            << "Unexpected exception of unknown type";
    }
}
