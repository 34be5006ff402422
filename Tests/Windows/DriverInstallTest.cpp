// Installing the driver from the window. The installer is the test installer, copied into "Redist"
// beside this test program; it waits for an event the test sets, so the test decides when it ends.

#include "Window/DriverInstall.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CommandsHarness.h"
#include "SimulatedBus/SimulatedBus.h"
#include "Server/Server.h"
#include "ServerFixture.h"
#include "Shell/Settings.h"
#include "Window/MainWindow.h"

namespace Velotrix {
namespace {

using namespace std::chrono_literals;

const std::string DriverReady = "Driver ready after the install";

// The folder "Redist" beside this program, made empty for the test and removed afterwards.
struct RedistFolder {
    RedistFolder() { Clear(); }
    ~RedistFolder() { Clear(); }
    void Clear() const {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }

    // A copy of the test installer, or an empty file, under `name`.
    bool Add(const std::wstring& name, bool installer = true) const {
        CreateDirectoryW(path.c_str(), nullptr);
        const std::wstring file = path + L"\\" + name;
        return installer
                   ? CopyFileW(TestInstallerPath().c_str(), file.c_str(), FALSE) != FALSE
                   : static_cast<bool>(UniqueFileHandle(CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr,
                                                                    CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)));
    }

    const std::wstring path = ModuleFolder() + L"\\Redist";
};

class DriverInstallTest : public testing::Test {
protected:
    void SetUp() override {
        SimulatedBus::Reset();
        // No driver when the program starts; the "installation" makes it appear.
        SimulatedBus::SetFaults({.noBus = true});
        server = std::make_unique<Server>();
        ASSERT_FALSE(server->BusConnected());
        SimulatedBus::SetFaults({});
        window = std::make_unique<MainWindow>(MainWindowSetup{.server = *server, .settings = settings});
        ASSERT_TRUE(window->Create(GetModuleHandleW(nullptr), true));

        const std::wstring eventName = L"VelotrixTestInstallerDone" + std::to_wstring(GetCurrentProcessId());
        installationOver.Reset(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
        ASSERT_TRUE(installationOver);
        SetEnvironmentVariableW(L"VELOTRIX_TEST_INSTALLER_EVENT", eventName.c_str());
    }

    void TearDown() override {
        // Let every installer still waiting end, and the window hear of it, before the folder goes.
        SetEvent(installationOver.get());
        PumpUntil([&] { return installers.Ends() >= installers.Starts(); }, 30s);
        SetEnvironmentVariableW(L"VELOTRIX_TEST_INSTALLER_EVENT", nullptr);
        DropWindowAndServer(window, server);
        SimulatedBus::Reset();
    }

    // What the Install driver button runs (the click itself is driven end to end).
    DriverInstallerRun ClickInstall() { return RunDriverInstaller(window->Handle()); }

    InstallerLog installers;
    RedistFolder redist;
    LogCapture logs;
    Settings settings;
    std::unique_ptr<Server> server;
    std::unique_ptr<MainWindow> window;
    UniqueHandle installationOver;
};

TEST_F(DriverInstallTest, EachClickStartsTheFirstInstallerFoundAndConnectsOnlyAfterItEnded) {
    ASSERT_TRUE(redist.Add(L"ViGEmBus_1.21.exe"));
    ASSERT_TRUE(redist.Add(L"ViGEmBus_1.22.exe"));
    WIN32_FIND_DATAW first{};
    const HANDLE search = FindFirstFileW((redist.path + L"\\ViGEmBus_*.exe").c_str(), &first);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);

    EXPECT_EQ(ClickInstall(), DriverInstallerRun::Waiting);
    EXPECT_EQ(ClickInstall(), DriverInstallerRun::Waiting);

    // Seeing both installers start took a while; an early "installed" message would have been handled by now.
    ASSERT_TRUE(PumpUntil([&] { return installers.Starts() == 2; }, 30s)) << "the installers did not start";
    for (const auto& started : installers.Of(L"start")) {
        EXPECT_TRUE(EndsWith(started.program, L"\\Redist\\" + std::wstring(first.cFileName)))
            << ToUtf8(started.program);
        EXPECT_EQ(started.show, SW_SHOWNORMAL);
    }
    EXPECT_EQ(logs.Count(DriverReady), 0);
    EXPECT_FALSE(server->BusConnected());

    SetEvent(installationOver.get());
    ASSERT_TRUE(PumpUntil([&] { return logs.Count(DriverReady) == 2; }, 30s)) << "no connection after the end";
    EXPECT_EQ(installers.Ends(), 2u) << "the window heard of an end before the installer ended";
    EXPECT_EQ(installers.Starts(), 2u) << "one installer per click";
    EXPECT_TRUE(server->BusConnected());
}

TEST_F(DriverInstallTest, WithoutAnInstallerTheReleasePageOpensAndNothingWaits) {
    BrowserSandbox browser;
    ASSERT_TRUE(browser.Ready());
    // The browser stands in for the user's: it does not wait for an installation to end.
    SetEnvironmentVariableW(L"VELOTRIX_TEST_INSTALLER_EVENT", nullptr);
    // No Redist folder, then one with files that are no driver installer.
    const std::vector<std::vector<std::wstring>> cases = {{}, {L"ViGEmBus.exe", L"Setup.exe", L"ViGEmBus_1.0.msi"}};
    for (const auto& files : cases) {
        const char* what = files.empty() ? "no folder" : "other files";
        for (const std::wstring& name : files) ASSERT_TRUE(redist.Add(name, false)) << what;
        InstallerLog opened;

        EXPECT_EQ(ClickInstall(), DriverInstallerRun::PageOpened) << what;

        ASSERT_TRUE(PumpUntil([&] { return opened.Ends() == 1; }, 30s)) << what << ": the page was not opened";
        const auto starts = opened.Of(L"start");
        ASSERT_EQ(starts.size(), 1u) << what;
        EXPECT_TRUE(EndsWith(starts[0].commandLine, L"\"" + std::wstring(DriverReleasePage) + L"\""))
            << what << ": " << ToUtf8(starts[0].commandLine);
        EXPECT_EQ(starts[0].show, SW_SHOWNORMAL) << what;
        // The driver is there by now, so a stray "installed" message would have connected it.
        EXPECT_EQ(logs.Count(DriverReady), 0) << what;
    }
}

} // namespace
} // namespace Velotrix
