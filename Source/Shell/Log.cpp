#include "Shell/Log.h"

#include "Platform/Os.h"

#include <cstdio>
#include <mutex>

namespace Velotrix {

namespace {

// Made once and kept until the process ends: threads may log during shutdown, so neither the file
// nor the mutex is ever destroyed.
struct LogState {
    std::mutex mutex;
    std::FILE* file = nullptr;
    LogSink sink = nullptr;
    void* sinkContext = nullptr;
};

LogState& State() {
    static LogState* state = new LogState;
    return *state;
}

} // namespace

int FormatLogLine(char* buffer, int size, int hour, int minute, int second, int millisecond, const char* format,
                  va_list arguments) {
    if (size <= 0) return 0;
    int stamp = std::snprintf(buffer, static_cast<std::size_t>(size), "%02d:%02d:%02d.%03d ", hour, minute, second,
                              millisecond);
    if (stamp < 0) stamp = 0;
    if (stamp >= size) return size - 1;
    int message = std::vsnprintf(buffer + stamp, static_cast<std::size_t>(size - stamp), format, arguments);
    if (message < 0) {
        buffer[stamp] = '\0';
        return stamp;
    }
    return stamp + message < size ? stamp + message : size - 1;
}

void StartLog() {
    const std::wstring folder = LogFolder();
    if (folder.empty()) return;
    std::FILE* file = OpenSharedLogFile(folder);
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    state.file = file;
}

void Log(const char* format, ...) {
    char line[1024];
    const LocalTime now = LocalTimeNow();
    va_list arguments;
    va_start(arguments, format);
    FormatLogLine(line, sizeof line, now.hour, now.minute, now.second, now.millisecond, format, arguments);
    va_end(arguments);

    LogState& state = State();
    std::lock_guard lock(state.mutex);
    WriteDebugOutput(line);
    WriteDebugOutput("\n");
    if (state.file != nullptr) {
        std::fputs(line, state.file);
        std::fputs("\n", state.file);
        std::fflush(state.file);
    }
    if (state.sink != nullptr) state.sink(state.sinkContext, line);
}

void SetLogSink(LogSink sink, void* context) {
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    state.sink = sink;
    state.sinkContext = context;
}

} // namespace Velotrix
