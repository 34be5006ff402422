#include "Shell/Log.h"

#include "Platform/Os.h"

#include <cstdio>
#include <cstring>
#include <mutex>

namespace Velotrix {

namespace {

// Made once and kept until the process ends: threads may log during shutdown, so neither the file
// nor the mutex is ever destroyed.
struct LogState {
    std::mutex mutex;
    std::FILE* file = nullptr;
    std::wstring folder;
    std::uint64_t written = 0;
    std::uint64_t rotateAt = LogRotationBytes;
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

void StartLog(std::uint64_t rotateAt) {
    const std::wstring folder = LogFolder();
    if (folder.empty()) return;
    std::FILE* file = OpenSharedLogFile(folder);
    LogState& state = State();
    std::lock_guard lock(state.mutex);
    if (state.file != nullptr) std::fclose(state.file);
    state.file = file;
    state.folder = folder;
    state.written = 0;
    state.rotateAt = rotateAt;
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
        // Counted as on Windows, where text mode ends each line in CR LF.
        state.written += std::strlen(line) + 2;
        if (state.written >= state.rotateAt) {
            std::fclose(state.file);
            MoveLogAside(state.folder);
            state.file = OpenSharedLogFile(state.folder);
            state.written = 0;
        }
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
