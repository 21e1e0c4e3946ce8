#pragma once

// The daemon's log call. PM_LOG(level, "[%s:%d] %s: message %d", value)
// formats the prefix (source file relative to src/ without extension, line,
// function signature) and the message into a 512-byte line, as the platform's
// logging component expects, and hands it over with the photo object path.
// PM_LOG_PHOTO(level, path, status, ...) does the same for a record about one
// photo, whose path and status then also reach the journal as fields.
//
// A record whose priority is above the threshold is dropped before its
// arguments are even evaluated: it costs one comparison.
//
// The format must be a literal: anything that comes from outside (a file
// name, a path from a peer) is an argument.

#ifndef PHOTOMANAGER_LOG_SOURCE
#define PHOTOMANAGER_LOG_SOURCE __FILE__
#endif

#define PM_LOG(level, format, ...) PM_LOG_PHOTO(level, nullptr, 0, format, ##__VA_ARGS__)

#define PM_LOG_PHOTO(level, photoPath, photoStatus, format, ...)                                   \
    do {                                                                                           \
        if (photomanagerLogPriority(level) <= photomanagerLogThreshold)                            \
            photomanagerLog((level), PHOTOMANAGER_LOG_SOURCE, __LINE__,                            \
                static_cast<const char*>(__PRETTY_FUNCTION__), (photoPath), (photoStatus), format, \
                PHOTOMANAGER_LOG_SOURCE, __LINE__, static_cast<const char*>(__PRETTY_FUNCTION__),  \
                ##__VA_ARGS__);                                                                    \
    } while (false)

// sd-daemon priority of a log level: 1 -> 3 (err), 2 -> 4 (warning),
// 4 -> 5 (notice), anything else -> 7 (debug).
constexpr int photomanagerLogPriority(unsigned int level)
{
    return level == 1 ? 3 : level == 2 ? 4 : level == 4 ? 5 : 7;
}

// The highest priority that is logged: 7 (debug, every record) unless the
// settings or the bus say otherwise.
extern int photomanagerLogThreshold;

// The syslog name of a priority ("err", "debug") and back (the name or the
// digit); -1 for a name that is none.
const char* photomanagerLogPriorityName(int priority);
int photomanagerLogPriorityNamed(const char* name);

// photoPath is null for a record about no photo in particular.
void photomanagerLog(unsigned int level, const char* file, int line, const char* function,
    const char* photoPath, int photoStatus, const char* format, ...)
    __attribute__((format(printf, 7, 8)));
