// "Velotrix.exe --quit" and the request it posts: the option is read like the others, and the window
// takes the request the way it takes the notification menu's "Quit".

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/SimulatedBus.h"
#include "RegistrySandbox.h"
#include "Server/Server.h"
#include "Shell/CommandLine.h"
#include "Shell/Settings.h"
#include "Window/MainWindow.h"

namespace Velotrix {
namespace {

TEST(QuitRequestTest, QuitOptionIsOneWholeCaseSensitiveArgument) {
    struct Case {
        const char* what;
        std::vector<std::wstring> arguments;
        bool quit;
    };
    const std::vector<Case> cases = {
        {"alone", {L"Velotrix.exe", L"--quit"}, true},
        {"among others", {L"Velotrix.exe", L"--tray", L"--quit", L"--port", L"5000"}, true},
        {"other spellings", {L"Velotrix.exe", L"--Quit", L"-quit", L"--quit=1", L"/quit"}, false},
        {"the program path is not an option", {L"--quit"}, false},
        {"taken as the port's value", {L"Velotrix.exe", L"--port", L"--quit"}, false},
    };
    for (const Case& c : cases) EXPECT_EQ(ParseCommandLine(c.arguments).quit, c.quit) << c.what;
}

TEST(QuitRequestTest, RequestDestroysTheWindowAndEndsTheMessageLoop) {
    RegistrySandbox sandbox;
    ASSERT_TRUE(sandbox.Ready());
    SimulatedBus::Reset();
    bool quitPosted = false;
    {
        Server server;
        Settings settings;
        settings.keepInTray = true; // closing the window would only hide it; the request must not
        MainWindow window(server, settings);
        ASSERT_TRUE(window.Create(GetModuleHandleW(nullptr), true));
        PostMessageW(window.hwnd, WM_APP_QUIT, 0, 0);
        MSG message{};
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) {
                quitPosted = true;
                continue;
            }
            DispatchMessageW(&message);
        }
        EXPECT_FALSE(IsWindow(window.hwnd));
    }
    EXPECT_TRUE(quitPosted);
    SimulatedBus::Reset();
}

} // namespace
} // namespace Velotrix
