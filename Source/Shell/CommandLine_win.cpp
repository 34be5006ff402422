#include "Shell/CommandLine.h"

#include "Common/DefaultPort.h"

#include <cstdlib>

namespace Velotrix {

CommandLineOptions ParseCommandLine(const std::vector<std::wstring>& arguments) {
    CommandLineOptions options;
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (argument == L"--tray") {
            options.tray = true;
        } else if (argument == L"--demo") {
            options.demo = true;
        } else if (argument == L"--add-firewall-rule") {
            options.addFirewallRule = true;
        } else if (argument == L"--quit") {
            options.quit = true;
            if (i + 1 < arguments.size() && arguments[i + 1].rfind(L"--", 0) != 0) options.quitProgram = arguments[++i];
        } else if (argument == L"--self-check") {
            options.selfCheck = true;
        } else if (argument == L"--start-at-sign-in" || argument == L"--no-start-at-sign-in") {
            options.startAtSignIn = argument == L"--start-at-sign-in";
        } else if (argument == L"--remove-settings") {
            options.removeSettings = true;
        } else if (argument == L"--as-user") {
            options.asUser = true;
        } else if (argument == L"--port" && i + 1 < arguments.size()) {
            options.port = _wtoi(arguments[++i].c_str());
        }
    }
    return options;
}

std::uint16_t ChoosePort(int commandLinePort, std::uint32_t settingsPort) {
    std::uint32_t chosen = DefaultPort;
    if (commandLinePort != 0) {
        chosen = static_cast<std::uint32_t>(commandLinePort);
    } else if (settingsPort != 0) {
        chosen = settingsPort;
    }
    return static_cast<std::uint16_t>(chosen & 0xFFFF);
}

} // namespace Velotrix
