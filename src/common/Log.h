#pragma once

// The daemon's log call. PM_LOG(level, "[%s:%d] %s: message %d", value)
// formats the prefix (source file relative to src/ without extension, line,
// function signature) and the message into a 512-byte line, as the platform's
// logging component expects, and hands it over with the photo object path.
//
// The format must be a literal: anything that comes from outside (a file
// name, a path from a peer) is an argument.

#ifndef PHOTOMANAGER_LOG_SOURCE
#define PHOTOMANAGER_LOG_SOURCE __FILE__
#endif

#define PM_LOG(level, format, ...)                                                                 \
    photomanagerLog((level), format, PHOTOMANAGER_LOG_SOURCE, __LINE__,                            \
        static_cast<const char*>(__PRETTY_FUNCTION__), ##__VA_ARGS__)

void photomanagerLog(unsigned int level, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
