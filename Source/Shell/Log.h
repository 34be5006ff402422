#pragma once

// One plain-text log per run: "HH:MM:SS.mmm " and one event per line, to the debugger output and to
// server.log. Text is UTF-8 throughout.

#include <cstdarg>
#include <cstdint>
#include <string>

namespace Velotrix {

// A long flood or a long life must not fill the disk: once server.log holds this many bytes it
// becomes server.old.log (replacing the one before) and a new server.log begins. About 60,000 lines.
inline constexpr std::uint64_t LogRotationBytes = 4u << 20;

// Makes the log folder and opens server.log in it, truncating an earlier run's file. Other programs
// may read the file while it is open, but not write it. A failure leaves only the debugger output.
// `rotateAt` is the size at which the file is set aside (smaller in tests).
void StartLog(std::uint64_t rotateAt = LogRotationBytes);

// printf-style; safe from any thread, before or after StartLog, and while holding the server's mutex.
// A line longer than 1023 bytes is cut. Never fails its caller.
void Log(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// Also hands every finished line (time stamp included, no newline) to `sink`, under the log's mutex:
// the dev server prints each line as an event and tests read what was logged. Null removes it.
using LogSink = void (*)(void* context, const char* line);
void SetLogSink(LogSink sink, void* context);

// Formats one line into `buffer` (at least 1 byte): the time stamp, then the message, cut to fit and
// always NUL-terminated. Answers the length of the line. Split out so the format is testable.
int FormatLogLine(char* buffer, int size, int hour, int minute, int second, int millisecond, const char* format,
                  va_list arguments);

} // namespace Velotrix
