#pragma once

#include <utility>

// A value read from the operating system, or the errno that prevented it.
template <class T> struct SysResult
{
    T value{};
    int error = 0;

    bool ok() const { return error == 0; }
    static SysResult success(T v) { return SysResult{std::move(v), 0}; }
    static SysResult failure(int errorCode) { return SysResult{T{}, errorCode != 0 ? errorCode : -1}; }
};
