// A pretend icacls.exe: appends its arguments, as the command line splits them and separated by tabs,
// as one line "icacls<TAB>..." to the request log that VELOTRIX_TEST_REQUESTS names (shared with the
// netsh stand-in, so the log tells their order), and answers 0. Without the variable it answers 1.

#include <windows.h>
#include <shellapi.h>

#include "../StandInText.h"

#include <fstream>
#include <string>

int wmain() {
    const std::wstring logPath = StandIn::Environment(L"VELOTRIX_TEST_REQUESTS");
    if (logPath.empty()) return 1;
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count);
    if (split == nullptr) return 1;
    std::string line = "icacls";
    for (int i = 1; i < count; ++i) line += "\t" + StandIn::Utf8(split[i]);
    LocalFree(split);
    std::ofstream out(logPath.c_str(), std::ios::app);
    out << line << '\n';
    return out.flush() ? 0 : 1;
}
