#pragma once

// What a crash leaves behind, and what the next start learns of it (Windows only, CrashReport_win.cpp).
// An unhandled exception writes a small minidump with the threads' information into the crash folder
// and one log line with the exception code and the faulting module and offset; Windows is asked to
// start the program again with "--tray" after a crash or a hang, and the next start shows a notice.

#include <string>

namespace Velotrix {

// Dumps the crash folder keeps; the oldest goes first.
inline constexpr int KeptCrashDumps = 5;

// LogFolder()\crashes; empty without a log folder.
std::wstring CrashFolder();

// Installs the unhandled-exception filter for the whole process, writing into `folder` (made if need
// be). The filter lets the exception go on to Windows afterwards, whose error reporting is what
// restarts the program. False when the folder cannot be made; the filter is not installed then.
bool InstallCrashHandler(const std::wstring& folder);

// How the program asks Windows to start it again: RegisterApplicationRestart's shape (an HRESULT as a
// long). The seam is a parameter so that a test can record the call instead.
using RestartRegistrar = long (*)(const wchar_t* commandLine, unsigned long flags);
// Asks for a restart with "--tray" after a crash or a hang (Windows does so only for a process that
// ran at least a minute), never after an update or a reboot, which the Run key covers. True when the
// registrar accepted it. Null means RegisterApplicationRestart.
bool RegisterRestart(RestartRegistrar registrar = nullptr);

// The dump an earlier run's crash left that no start has shown yet: its file name, with the mark
// taken away so that the notice shows once. Empty when there is none.
std::wstring TakeCrashNotice(const std::wstring& folder);

} // namespace Velotrix
