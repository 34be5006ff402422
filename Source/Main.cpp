// The whole life of the process: one copy per logon session, every long-lived object on this frame in
// a fixed order, the message loop, and the way down in a fixed order.

#include <windows.h>
#include <shellapi.h>

#include <functional>
#include <string>
#include <vector>

#include "Platform/ComApartment.h"
#include "Platform/WinHandles.h"
#include "Server/Advertiser.h"
#include "Server/Server.h"
#include "Share/Share.h"
#include "Shell/CommandLine.h"
#include "Shell/CrashReport.h"
#include "Shell/DesktopUser.h"
#include "Shell/ComputerName.h"
#include "Shell/LocalAddresses.h"
#include "Shell/ModulePath.h"
#include "Shell/TextConversion.h"
#include "Shell/Log.h"
#include "Shell/NetworkWatch.h"
#include "Shell/Settings.h"
#include "Shell/StartWithWindows.h"
#include "Window/Firewall.h"
#include "Window/MainWindow.h"
#include "Window/RunningCopy.h"
#include "Window/SelfCheckRun.h"

namespace Velotrix {

namespace {

constexpr wchar_t InstanceMutexName[] = L"Local\\VelotrixServer";
// How long "--quit" waits for the running copy to end: its shutdown takes well under a second, so
// this only bounds an installer that would otherwise wait on a copy that hangs.
constexpr DWORD QuitWaitMilliseconds = 15'000;
// The user's side of the setup writes two registry values; this bounds a copy that hangs.
constexpr std::uint32_t UserChoicesWaitMilliseconds = 15'000;

std::vector<std::wstring> CommandLineArguments() {
    std::vector<std::wstring> arguments;
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count);
    if (split == nullptr) return arguments;
    for (int i = 0; i < count; ++i) arguments.emplace_back(split[i]);
    LocalFree(split);
    return arguments;
}

// "--quit [PATH]": the installer and the uninstaller end a running copy this way before they touch its
// files: the copy that runs PATH, by default this same program file. The setup runs its own new copy
// from its temporary folder and names the installed one, so it ends only the copy it replaces, never
// one started from another folder. Only the window is looked for, never the mutex, so this copy stands
// in the way of no copy that is starting.
int QuitRunningCopy(const std::wstring& programFile) {
    return QuitCopy(WindowClassName, programFile.empty() ? ThisProgramFile() : programFile, QuitWaitMilliseconds);
}

// The setup's requests for the user's side, which it must not carry out itself while elevated: done
// here, in a copy that runs as the user. The sign-in value first, so that removing the settings also
// removes it.
int ApplyUserChoices(const CommandLineOptions& options) {
    bool done = true;
    if (options.startAtSignIn) done = SetStartWithWindows(*options.startAtSignIn) && done;
    if (options.removeSettings) done = SetStartWithWindows(false) && RemoveSettings() && done;
    return done ? 0 : 1;
}

// "--as-user": the elevated setup's way to the user's side; this copy starts another as the desktop's
// user with the same requests and answers what that one answered (1 when it could not be started).
int ApplyUserChoicesAsUser(const CommandLineOptions& options) {
    std::wstring arguments;
    if (options.startAtSignIn) arguments += *options.startAtSignIn ? L" --start-at-sign-in" : L" --no-start-at-sign-in";
    if (options.removeSettings) arguments += L" --remove-settings";
    if (arguments.empty()) return 0;
    return RunAsDesktopUser(ThisProgramFile(), arguments, UserChoicesWaitMilliseconds) == 0 ? 0 : 1;
}

// Everything from the log's first line to its last, in an apartment-threaded COM for the share sheet and
// the shell that ends only after the sharing objects are gone.
int Serve(HINSTANCE instance, const CommandLineOptions& options) {
    const ComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);

    StartLog();
    Log("Velotrix server starting");
    // From here on a crash leaves a dump and a log line, and Windows starts the program again.
    const std::wstring crashFolder = CrashFolder();
    if (!InstallCrashHandler(crashFolder)) Log("Crash reports: no folder to write them into");
    if (!RegisterRestart()) Log("Crash reports: Windows will not restart the program after a crash");
    const std::wstring lastCrash = TakeCrashNotice(crashFolder);
    if (!lastCrash.empty()) Log("Velotrix stopped unexpectedly last time; its report is %s", ToUtf8(lastCrash).c_str());

    Settings settings;
    LoadSettings(settings);
    const std::uint16_t port = ChoosePort(options.port, settings.port);

    int exitCode = 0;
    bool sessionEnded = false; // the way down already ran when Windows ended the session
    {
        Server server;
        const std::wstring computerName = ComputerName();
        server.SetHostName(ToUtf8(computerName));
        server.SetAskFirst(settings.askFirst);
        server.SetAllowed(settings.allowed);
        server.SetOnAllowedChanged([&settings, &server] {
            settings.allowed = server.AllowedList();
            if (!SaveSettings(settings)) Log("Settings: could not save the allowed phones");
        });

        {
            Advertiser advertiser;
            std::string error;
            const bool started = server.Start(port, error);
            // A server that did not start is not announced, neither now nor after a network change.
            std::function<void(const std::string& address)> announceAt;
            if (!started) {
                Log("Server: %s", error.c_str());
            } else {
                // The port the socket is bound to: the one chosen may be 0 (a "--port" of 65536), which
                // the OS replaced with a free one.
                const std::uint16_t bound = server.Port();
                const std::vector<LocalAddress> addresses = LocalAddresses();
                advertiser.Register(computerName, addresses.empty() ? std::string() : addresses.front().address, bound);
                announceAt = [&advertiser, &computerName, bound](const std::string& address) {
                    advertiser.Register(computerName, address, bound);
                };
            }
            // Safe to run twice: after the session ended, the way down after the loop finds nothing left
            // to do.
            const auto stopServing = [&server, &advertiser] {
                // Nothing may call into the window or the settings from here on; the receive thread may
                // still run until Stop.
                server.SetOnRequest(nullptr);
                server.SetOnChanged(nullptr);
                server.SetOnAllowedChanged(nullptr);
                advertiser.Deregister();
                server.Stop();
            };

            {
                // Made only once the server's start is known, which the window shows; until Create the
                // window has no handle, so what the server reports before that is painted by the first
                // paint instead.
                MainWindow window(MainWindowSetup{
                    .server = server,
                    .settings = settings,
                    .startError = started ? std::string() : error,
                    .demo = options.demo,
                    .crashNotice = lastCrash,
                    .firewall = WindowsFirewall(),
                    .onAddressChanged = announceAt,
                    .onEndSession =
                        [&] {
                            if (sessionEnded) return;
                            stopServing();
                            server.Shutdown();
                            Log("Velotrix server stopped");
                            sessionEnded = true;
                        },
                });

                if (window.Create(instance, options.tray && started)) {
                    // Started only now, so that every notification finds the window to post to.
                    const NetworkWatch networkWatch([&window] { window.PostNetworkChanged(); });
                    MSG message{};
                    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
                        TranslateMessage(&message);
                        DispatchMessageW(&message);
                    }
                    exitCode = static_cast<int>(message.wParam);
                }
                stopServing();
            } // the window
        }     // the advertiser
    }         // the server: unplugs every pad and lets the driver go
    if (!sessionEnded) Log("Velotrix server stopped");
    EndSharing();
    return exitCode;
}

int Run(HINSTANCE instance) {
    // Before anything loads a library: a DLL of Windows' name in the program's folder (an install
    // folder someone else can write to, a Downloads folder) or the current one is never taken for it.
    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
    // The copy the window starts elevated: the running copy holds the mutex, so this one must not look.
    const CommandLineOptions options = ParseCommandLine(CommandLineArguments());
    if (options.addFirewallRule) {
        const ComApartment com(COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
        return AddFirewallRule(ModulePath()) ? 0 : 1;
    }
    if (options.quit) return QuitRunningCopy(options.quitProgram);
    if (options.asUser) return ApplyUserChoicesAsUser(options);
    if (options.startAtSignIn || options.removeSettings) return ApplyUserChoices(options);
    // Before the mutex: it runs beside a running copy, on a port and with a pad of its own, and
    // touches neither that copy's log nor its window.
    if (options.selfCheck) {
        Settings settings;
        LoadSettings(settings);
        return RunSelfCheck(ChoosePort(options.port, settings.port));
    }

    // Deliberately never closed: the handle keeps the name taken until the process ends, and a second
    // copy only needs to see that it exists.
    HANDLE instanceMutex = CreateMutexW(nullptr, TRUE, InstanceMutexName);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        // Only a window of this same program file: another program's window of that class, or a copy
        // from another folder, is not the one the user meant to bring back.
        ActivateCopy(WindowClassName, ThisProgramFile());
        return 0;
    }

    const int exitCode = Serve(instance, options);
    ReleaseMutex(instanceMutex);
    return exitCode;
}

} // namespace

} // namespace Velotrix

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) { return Velotrix::Run(instance); }
