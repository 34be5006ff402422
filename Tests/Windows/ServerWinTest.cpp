// The log file where Windows keeps it (answers over both loopbacks and a taken port are shown by the
// real program end to end).

#include "Platform/Os.h"
#include "Platform/WinHandles.h"
#include "Shell/Log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

namespace Velotrix {
namespace {

TEST(ServerWinTest, LogFileIsTruncatedAndReadableButNotWritableByOthers) {
    const std::wstring folder = LogFolder();
    ASSERT_FALSE(folder.empty());
    const std::wstring path = folder + L"\\server.log";
    std::ofstream(path.c_str()) << "a line from the previous run\n";
    StartLog();
    Log("Velotrix server starting");

    const UniqueFileHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader) << "others can read the log while the program runs";
    char buffer[256] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(reader.get(), buffer, sizeof buffer - 1, &read, nullptr));
    // One time-stamped line, CR LF on disk; the previous run's line is gone.
    EXPECT_TRUE(std::regex_match(std::string(buffer, read), std::regex("[0-9:.]{12} Velotrix server starting\r\n")))
        << buffer;

    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

} // namespace
} // namespace Velotrix
