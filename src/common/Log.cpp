#include "Log.h"

#include "platform/LogInterface.h"

#include <cstdarg>
#include <cstdio>

const char* const kPhotoLogObjectPath = "/com/zandrel/quor/photomanager/photoobj";

void photomanagerLog(unsigned int level, const char* format, ...)
{
    if (!_logInterface)
        return;
    // Longer lines are cut at 511 characters.
    char line[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(line, sizeof line, format, args);
    va_end(args);
    _logInterface->EmitLogString(level, line, kPhotoLogObjectPath);
}
