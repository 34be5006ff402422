#include "Platform/Os.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>

namespace Velotrix {

LocalTime LocalTimeNow() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return {local.tm_hour, local.tm_min, local.tm_sec, static_cast<int>(now.tv_nsec / 1000000)};
}

std::int64_t SteadyNow() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

void WriteDebugOutput(const char* text) { std::fputs(text, stderr); }

void RaiseCurrentThreadPriority() {
    // An unprivileged process may not raise its priority here; the loop works either way.
}

std::FILE* OpenSharedLogFile(const std::wstring& folder) {
    std::filesystem::path path = std::filesystem::path(folder) / "server.log";
    return std::fopen(path.c_str(), "w");
}

void MoveLogAside(const std::wstring& folder) {
    std::error_code ignored;
    std::filesystem::rename(std::filesystem::path(folder) / "server.log",
                            std::filesystem::path(folder) / "server.old.log", ignored);
}

std::wstring LogFolder() {
    const char* configured = std::getenv("VELOTRIX_LOG_DIR");
    if (configured == nullptr || *configured == '\0') return {};
    std::error_code ignored;
    std::filesystem::create_directories(configured, ignored);
    return std::filesystem::path(configured).wstring();
}

} // namespace Velotrix
