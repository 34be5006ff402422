#pragma once

// Running a program as the user whose desktop this is, from an elevated process. An elevated setup
// runs under an administrator's credentials, which need not be the signed-in user's: what it wrote in
// HKEY_CURRENT_USER would land in the administrator's hive. So what belongs to the user (the sign-in
// value, the settings) is done by a copy of the program started with the token of the desktop's shell,
// the way Explorer itself would start it.

#include <cstdint>
#include <string>

namespace Velotrix {

// Starts `program` with `arguments` (one command-line string, without the program) as the user of the
// desktop's shell and waits up to `waitMs` for it. Answers its exit code; -1 when there is no shell to
// take the user from, the program could not be started that way, or it did not end in time (nothing is
// then run in this process's name instead).
int RunAsDesktopUser(const std::wstring& program, const std::wstring& arguments, std::uint32_t waitMs);

} // namespace Velotrix
