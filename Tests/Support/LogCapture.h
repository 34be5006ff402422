#pragma once

// Every log line while it lives, without the time stamp.

#include "Shell/Log.h"

#include <mutex>
#include <string>
#include <vector>

namespace Velotrix {

class LogCapture {
public:
    LogCapture() { SetLogSink(&LogCapture::Sink, this); }
    ~LogCapture() { SetLogSink(nullptr, nullptr); } // its mutex makes it uncopyable, as the sink's context must be

    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex);
        return lines;
    }
    int Count(const std::string& message) {
        int count = 0;
        for (const auto& line : Lines()) count += line == message ? 1 : 0;
        return count;
    }
    void Clear() {
        std::lock_guard lock(mutex);
        lines.clear();
    }

private:
    static void Sink(void* context, const char* line) {
        auto* self = static_cast<LogCapture*>(context);
        std::lock_guard lock(self->mutex);
        // "HH:MM:SS.mmm " is 13 bytes.
        self->lines.emplace_back(std::string(line).substr(13));
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

} // namespace Velotrix
