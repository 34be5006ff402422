#include "Phone.h"
#include "Shell/TextConversion.h"

#include <windows.h>
#include <shellapi.h>
#include <timeapi.h>

#include <cstdio>
#include <fcntl.h>
#include <io.h>

namespace Velotrix {

// main()'s argv is in the ANSI code page, which cannot carry every phone name; the wide command line
// can.
std::vector<std::string> PrepareConsole(int, char**) {
    SetConsoleOutputCP(CP_UTF8);
    // Timed waits would otherwise round up to the 15.6 ms system tick, too coarse for 60 Hz and up.
    timeBeginPeriod(1);
    // Without binary mode every line would end in "\r\n", unlike the native build's output.
    _setmode(_fileno(stdout), _O_BINARY);
    std::vector<std::string> arguments;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(ToUtf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

} // namespace Velotrix
