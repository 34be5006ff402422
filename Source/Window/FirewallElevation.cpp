// The elevation: the one prompt that lets the program's own copy write the rule.

#include "Window/Firewall.h"

#include <shellapi.h>

#include "Platform/ComApartment.h"
#include "Platform/WinHandles.h"
#include "Shell/Log.h"
#include "Shell/ModulePath.h"

namespace Velotrix {

namespace {

constexpr DWORD ElevatedCopyTimeoutMs = 60'000;

} // namespace

bool RequestFirewallRule(HWND owner) {
    // The shell may load extensions into this thread to start the program.
    const ComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const std::wstring program = ModulePath();
    SHELLEXECUTEINFOW execute{};
    execute.cbSize = sizeof(execute);
    execute.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC;
    execute.hwnd = owner;
    execute.lpVerb = L"runas";
    execute.lpFile = program.c_str();
    execute.lpParameters = AddFirewallRuleOption;
    execute.nShow = SW_HIDE;
    if (!ShellExecuteExW(&execute) || execute.hProcess == nullptr) {
        // ERROR_CANCELLED (1223) when the user said no at the prompt.
        Log("Firewall rule: not added (error %lu)", static_cast<unsigned long>(GetLastError()));
        return false;
    }
    const UniqueHandle process(execute.hProcess);
    DWORD exitCode = 1;
    if (WaitForSingleObject(process.get(), ElevatedCopyTimeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(process.get(), &exitCode) || exitCode != 0) {
        Log("Firewall rule: not added (the elevated copy answered %lu)", static_cast<unsigned long>(exitCode));
        return false;
    }
    Log("Firewall rule \"Velotrix\" added");
    return true;
}

} // namespace Velotrix
