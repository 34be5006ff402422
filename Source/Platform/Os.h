#pragma once

// The few things the portable core needs from the OS besides sockets and driver I/O.

#include <cstdint>
#include <cstdio>
#include <string>

namespace Velotrix {

struct LocalTime {
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

LocalTime LocalTimeNow();

// Steady-clock nanoseconds (CLOCK_MONOTONIC natively); only the receive loop and tools read it.
std::int64_t SteadyNow();

// The debugger output on Windows, standard error elsewhere.
void WriteDebugOutput(const char* text);

// The receive thread runs above normal priority so that input reaches the game at once.
void RaiseCurrentThreadPriority();

// The folder "Velotrix" in the user's local application-data folder, made on the way; empty when the
// OS has no such folder (and, natively, unless VELOTRIX_LOG_DIR names one).
std::wstring LogFolder();

// Opens `folder`/server.log for writing, truncated, readable but not writable by others while open.
// Null on failure.
std::FILE* OpenSharedLogFile(const std::wstring& folder);
// Renames `folder`/server.log (closed) to server.old.log, replacing an older one. A failure is not
// reported: the next OpenSharedLogFile then truncates server.log, which bounds the log all the same.
void MoveLogAside(const std::wstring& folder);

} // namespace Velotrix
