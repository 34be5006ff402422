// velotrix_crash_child FOLDER: installs the program's crash handler for FOLDER, writes its log lines
// to FOLDER\child.log, and then writes through a null pointer.

#include "Shell/CrashReport.h"
#include "Shell/Log.h"

#include <cstdio>

namespace {

void ToFile(void* context, const char* line) {
    std::FILE* file = static_cast<std::FILE*>(context);
    std::fprintf(file, "%s\n", line);
    std::fflush(file);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) return 2;
    const std::wstring folder = argv[1];
    if (!Velotrix::InstallCrashHandler(folder)) return 3;
    std::FILE* log = _wfopen((folder + L"\\child.log").c_str(), L"w");
    if (!log) return 4;
    Velotrix::SetLogSink(&ToFile, log);
    Velotrix::Log("Crash child ready");
    // Through a volatile pointer, so that the compiler keeps the fault as written.
    volatile int* nowhere = nullptr;
    *nowhere = 1;
    return 0;
}
