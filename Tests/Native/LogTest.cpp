#include "Shell/Log.h"

#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace Velotrix {
namespace {

std::string Format(int size, int hour, int minute, int second, int millisecond, const char* format, ...) {
    std::vector<char> buffer(static_cast<std::size_t>(size), 'X');
    va_list arguments;
    va_start(arguments, format);
    const int length = FormatLogLine(buffer.data(), size, hour, minute, second, millisecond, format, arguments);
    va_end(arguments);
    std::string line(buffer.data());
    EXPECT_EQ(static_cast<int>(line.size()), length);
    return line;
}

TEST(LogTest, LineStartsWithTheLocalTimeAndOneSpace) {
    EXPECT_EQ(Format(1024, 0, 0, 0, 7, "ViGEmBus: connected"), "00:00:00.007 ViGEmBus: connected");
    EXPECT_EQ(Format(1024, 23, 59, 5, 999, "Server: listening on UDP %u", 47821u),
              "23:59:05.999 Server: listening on UDP 47821");
}

TEST(LogTest, LongMessagesAreCutTo1023Bytes) {
    const std::string message(2000, 'm');
    const std::string line = Format(1024, 9, 5, 3, 7, "%s", message.c_str());
    EXPECT_EQ(line.size(), 1023u);
    EXPECT_EQ(line.substr(0, 13), "09:05:03.007 ");
    EXPECT_EQ(line.back(), 'm');
    // A message that just fits is not cut.
    const std::string fits(1023 - 13, 'f');
    EXPECT_EQ(Format(1024, 9, 5, 3, 7, "%s", fits.c_str()).size(), 1023u);
    // A buffer too small for the time stamp still ends in NUL.
    EXPECT_EQ(Format(8, 9, 5, 3, 7, "x"), "09:05:0");
}

struct Captured {
    std::vector<std::string> lines;
};

void Capture(void* context, const char* line) { static_cast<Captured*>(context)->lines.emplace_back(line); }

TEST(LogTest, FileIsTruncatedEachRunAndGetsEveryLine) {
    const auto folder = std::filesystem::temp_directory_path() / ("velotrix-log-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    {
        std::ofstream old(folder / "server.log");
        old << "a line from the previous run\n";
    }
    ::setenv("VELOTRIX_LOG_DIR", folder.c_str(), 1);
    StartLog();
    Captured captured;
    SetLogSink(&Capture, &captured);
    Log("Hello from \"%s\" (%s): %d", "Anna’s iPhone", "00112233445566778899aabbccddeeff", 1);
    Log("Velotrix server stopped");
    SetLogSink(nullptr, nullptr);

    std::ifstream file(folder / "server.log");
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) lines.push_back(line);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].substr(12), " Hello from \"Anna’s iPhone\" (00112233445566778899aabbccddeeff): 1");
    EXPECT_EQ(lines[1].substr(12), " Velotrix server stopped");
    EXPECT_EQ(captured.lines.size(), 2u);
    EXPECT_EQ(captured.lines[1], lines[1]);
    std::filesystem::remove_all(folder);
}

} // namespace
} // namespace Velotrix
