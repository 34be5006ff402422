// The whole life of the process: the log, the phone server on its port, and the wait for the end.

#include "Server/Server.h"
#include "Shell/Log.h"

#include <windows.h>
#include <shellapi.h>

#include <cwchar>
#include <string>

namespace Velotrix {

namespace {

struct Options {
    bool tray = false;
    bool demo = false;
    int port = 0;
};

Options ParseCommandLine() {
    Options options;
    int count = 0;
    LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count);
    if (arguments == nullptr) return options;
    for (int i = 1; i < count; ++i) {
        const std::wstring argument = arguments[i];
        if (argument == L"--tray") {
            options.tray = true;
        } else if (argument == L"--demo") {
            options.demo = true;
        } else if (argument == L"--port" && i + 1 < count) {
            options.port = _wtoi(arguments[++i]);
        }
    }
    LocalFree(arguments);
    return options;
}

int Run() {
    const Options options = ParseCommandLine();
    StartLog();
    Log("Velotrix server starting");

    const int chosen = options.port != 0 ? options.port : 47821;
    const auto port = static_cast<std::uint16_t>(chosen & 0xFFFF);
    int exitCode = 0;
    {
        Server server;
        std::string error;
        if (!server.Start(port, error)) Log("Server: %s", error.c_str());

        MSG message{};
        while (GetMessageW(&message, nullptr, 0, 0) > 0) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        exitCode = static_cast<int>(message.wParam);
        server.Stop();
    }
    Log("Velotrix server stopped");
    return exitCode;
}

} // namespace

} // namespace Velotrix

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return Velotrix::Run();
}
