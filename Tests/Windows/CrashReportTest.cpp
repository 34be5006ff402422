// A crash with the handler installed, in a child process (Tests/Support/CrashChild): the dump, the log
// line, the notice for the next start and the five dumps kept; and the restart asked of Windows.

#include "Shell/CrashReport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

#include "Platform/WinHandles.h"
#include "Shell/ModulePath.h"
#include "Shell/TextConversion.h"

namespace Velotrix {
namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::set<std::wstring> Dumps(const fs::path& folder) {
    std::set<std::wstring> names;
    for (const auto& entry : fs::directory_iterator(folder))
        if (entry.path().extension() == L".dmp") names.insert(entry.path().filename().wstring());
    return names;
}

TEST(CrashReportTest, ACrashLeavesADumpALogLineAndANoticeAndTheNewestFiveDumps) {
    const fs::path folder = fs::temp_directory_path() / (L"velotrix-crash-" + std::to_wstring(GetCurrentProcessId()));
    fs::remove_all(folder);
    ASSERT_TRUE(fs::create_directory(folder));
    std::set<std::wstring> older;
    for (int i = 0; i < KeptCrashDumps; ++i) {
        older.insert(L"Velotrix-20000101-000000-00" + std::to_wstring(i) + L".dmp");
        std::ofstream(folder / *older.rbegin()) << "an older crash";
    }

    std::wstring command = L"\"" + ModuleFolder() + L"\\velotrix_crash_child.exe\" \"" + folder.wstring() + L"\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    ASSERT_TRUE(
        CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process));
    UniqueHandle child(process.hProcess), thread(process.hThread);
    // Windows ends it with the exception's code once the handler is done. Wine hands it to its
    // debugger instead, which waits; the handler's last act is the log line, so the child is ended here
    // once that is written.
    const auto logged = [&] { return ReadAll(folder / L"child.log").find("Crash:") != std::string::npos; };
    for (int i = 0; i < 400 && WaitForSingleObject(child.get(), 50) == WAIT_TIMEOUT && !logged(); ++i) {}
    TerminateProcess(child.get(), 1);
    WaitForSingleObject(child.get(), 5000);

    std::set<std::wstring> dumps = Dumps(folder);
    EXPECT_EQ(dumps.size(), static_cast<std::size_t>(KeptCrashDumps));
    EXPECT_EQ(dumps.count(*older.begin()), 0u) << "the oldest goes";
    std::wstring newest;
    for (const std::wstring& name : dumps)
        if (older.count(name) == 0) newest = name;
    ASSERT_FALSE(newest.empty());
    const std::string bytes = ReadAll(folder / newest);
    EXPECT_EQ(bytes.substr(0, 4), "MDMP");
    EXPECT_GT(bytes.size(), 1000u);

    const std::string lines = ReadAll(folder / L"child.log");
    EXPECT_NE(lines.find("Crash: exception 0xC0000005 at velotrix_crash_child.exe+0x"), std::string::npos) << lines;
    EXPECT_NE(lines.find("; dump " + ToUtf8(newest)), std::string::npos) << lines;

    EXPECT_EQ(TakeCrashNotice(folder.wstring()), newest);
    EXPECT_EQ(TakeCrashNotice(folder.wstring()), L"") << "shown once";
    std::error_code ignored;
    fs::remove_all(folder, ignored);
}

struct RestartRequest {
    std::wstring commandLine;
    unsigned long flags = 0;
    int calls = 0;
    long answer = S_OK;
};
RestartRequest restart;

long RecordRestart(const wchar_t* commandLine, unsigned long flags) {
    restart.commandLine = commandLine;
    restart.flags = flags;
    ++restart.calls;
    return restart.answer;
}

TEST(CrashReportTest, RestartIsAskedForWithTrayAfterACrashOrAHangOnly) {
    restart = {};
    EXPECT_TRUE(RegisterRestart(&RecordRestart));
    EXPECT_EQ(restart.calls, 1);
    EXPECT_EQ(restart.commandLine, L"--tray");
    EXPECT_EQ(restart.flags, static_cast<unsigned long>(RESTART_NO_PATCH | RESTART_NO_REBOOT));
    restart.answer = E_FAIL;
    EXPECT_FALSE(RegisterRestart(&RecordRestart));
}

} // namespace
} // namespace Velotrix
