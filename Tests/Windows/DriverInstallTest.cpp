// Installing the driver from the window: the installer in "Redist" beside the program is started, the
// window hears of its end only once it has ended, and then connects to the driver. The installer is
// the test installer, copied into a "Redist" folder beside this test program; it waits for an event
// the test sets, so the test decides when the installation is over.

#include "Window/DriverInstall.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "CommandsHarness.h"
#include "Platform/SimulatedBus.h"
#include "Server/Server.h"
#include "ServerFixture.h"
#include "Shell/Settings.h"
#include "Window/MainWindow.h"

namespace Velotrix {
namespace {

using namespace std::chrono_literals;

const std::string DriverReady = "Driver ready after the install";

// The ids of this process's threads right now.
std::set<DWORD> ThreadIds() {
    std::set<DWORD> ids;
    const UniqueFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (!snapshot) return ids;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.get(), &entry); more; more = Thread32Next(snapshot.get(), &entry))
        if (entry.th32OwnerProcessID == GetCurrentProcessId()) ids.insert(entry.th32ThreadID);
    return ids;
}

// Threads that exist now and did not exist `before` (threads of earlier tests may end meanwhile).
std::size_t NewThreads(const std::set<DWORD>& before) {
    std::size_t count = 0;
    for (DWORD id : ThreadIds()) count += before.count(id) == 0 ? 1 : 0;
    return count;
}

// The folder "Redist" beside this program, made empty for the test and removed afterwards.
class RedistFolder {
public:
    RedistFolder() : path(ModuleFolder() + L"\\Redist") { Clear(); }
    ~RedistFolder() { Clear(); }
    RedistFolder(const RedistFolder&) = delete;
    RedistFolder& operator=(const RedistFolder&) = delete;

    bool Make() { return CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS; }
    // A copy of the test installer under `name`.
    bool AddInstaller(const std::wstring& name) {
        return Make() && CopyFileW(TestInstallerPath().c_str(), (path + L"\\" + name).c_str(), FALSE);
    }
    bool AddFile(const std::wstring& name) {
        if (!Make()) return false;
        const UniqueFileHandle file(CreateFileW((path + L"\\" + name).c_str(), GENERIC_WRITE, 0, nullptr,
                                                CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        return static_cast<bool>(file);
    }
    const std::wstring& Path() const { return path; }

private:
    void Clear() {
        WIN32_FIND_DATAW found{};
        const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
        if (search != INVALID_HANDLE_VALUE) {
            do {
                const std::wstring name = found.cFileName;
                if (name != L"." && name != L"..") DeleteFileW((path + L"\\" + name).c_str());
            } while (FindNextFileW(search, &found));
            FindClose(search);
        }
        RemoveDirectoryW(path.c_str());
    }

    std::wstring path;
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
        window = std::make_unique<MainWindow>(*server, settings);
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
        PumpFor(100ms);
        SetEnvironmentVariableW(L"VELOTRIX_TEST_INSTALLER_EVENT", nullptr);
        DropWindowAndServer(window, server);
        SimulatedBus::Reset();
    }

    void ClickInstall() {
        window->OnClick(ClickRegion{{0, 0, 10, 10}, static_cast<std::int32_t>(ClickAction::InstallDriver), 0});
    }

    InstallerLog installers;
    RedistFolder redist;
    LogCapture logs;
    Settings settings;
    std::unique_ptr<Server> server;
    std::unique_ptr<MainWindow> window;
    UniqueHandle installationOver;
};

TEST_F(DriverInstallTest, OneClickStartsTheInstallerAndConnectsOnlyAfterItEnded) {
    ASSERT_TRUE(redist.AddInstaller(L"ViGEmBus_1.17.333_x64_x86_arm64.exe"));
    const std::set<DWORD> threadsBefore = ThreadIds();

    ClickInstall();

    ASSERT_TRUE(PumpUntil([&] { return installers.Starts() == 1; }, 30s)) << "the installer did not start";
    const auto started = installers.Of(L"start")[0];
    EXPECT_TRUE(EndsWith(started.program, L"\\Redist\\ViGEmBus_1.17.333_x64_x86_arm64.exe"))
        << ToUtf8(started.program);
    EXPECT_EQ(started.show, SW_SHOWNORMAL);

    // Running: the window has heard nothing and has not tried the driver.
    PumpFor(500ms);
    EXPECT_EQ(NewThreads(threadsBefore), 1u) << "one thread waits for the installer";
    EXPECT_EQ(logs.Count(DriverReady), 0);
    EXPECT_FALSE(server->BusConnected());
    EXPECT_EQ(installers.Ends(), 0u);

    SetEvent(installationOver.get());
    ASSERT_TRUE(PumpUntil([&] { return logs.Count(DriverReady) == 1; }, 30s)) << "no connection after the end";
    EXPECT_EQ(installers.Ends(), 1u) << "the window heard of the end before the installer ended";
    EXPECT_TRUE(server->BusConnected());
    PumpFor(300ms);
    EXPECT_EQ(logs.Count(DriverReady), 1);
    EXPECT_EQ(NewThreads(threadsBefore), 0u) << "the waiting thread ended";
}

TEST_F(DriverInstallTest, EachClickStartsItsOwnInstallerAndEachEndMakesOneConnectionAttempt) {
    ASSERT_TRUE(redist.AddInstaller(L"ViGEmBus_setup.exe"));

    ClickInstall();
    ClickInstall();

    ASSERT_TRUE(PumpUntil([&] { return installers.Starts() == 2; }, 30s));
    PumpFor(300ms);
    EXPECT_EQ(logs.Count(DriverReady), 0);

    SetEvent(installationOver.get());
    ASSERT_TRUE(PumpUntil([&] { return logs.Count(DriverReady) == 2; }, 30s));
    EXPECT_EQ(installers.Ends(), 2u);
    PumpFor(300ms);
    EXPECT_EQ(logs.Count(DriverReady), 2);
}

TEST_F(DriverInstallTest, WithTwoInstallersExactlyOneRunsTheFirstTheSearchReturns) {
    ASSERT_TRUE(redist.AddInstaller(L"ViGEmBus_1.21.exe"));
    ASSERT_TRUE(redist.AddInstaller(L"ViGEmBus_1.22.exe"));
    WIN32_FIND_DATAW first{};
    const HANDLE search = FindFirstFileW((redist.Path() + L"\\ViGEmBus_*.exe").c_str(), &first);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    FindClose(search);

    ClickInstall();
    SetEvent(installationOver.get());
    ASSERT_TRUE(PumpUntil([&] { return logs.Count(DriverReady) == 1; }, 30s));
    PumpFor(500ms);

    const auto starts = installers.Of(L"start");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_TRUE(EndsWith(starts[0].program, L"\\Redist\\" + std::wstring(first.cFileName)))
        << ToUtf8(starts[0].program);
}

TEST_F(DriverInstallTest, WithoutAnInstallerTheReleasePageOpensAndNothingWaits) {
    BrowserSandbox browser;
    ASSERT_TRUE(browser.Ready());
    // The browser stands in for the user's: it does not wait for an installation to end.
    SetEnvironmentVariableW(L"VELOTRIX_TEST_INSTALLER_EVENT", nullptr);
    struct Case {
        const char* what;
        std::vector<std::wstring> files; // empty names: no folder at all
        bool makeFolder;
    };
    const std::vector<Case> cases = {
        {"no Redist folder", {}, false},
        {"an empty Redist folder", {}, true},
        {"other files only", {L"ViGEmBus.exe", L"Setup.exe", L"ViGEmBus_1.0.msi"}, true},
    };
    for (const Case& c : cases) {
        RedistFolder folder;
        if (c.makeFolder) {
            ASSERT_TRUE(folder.Make()) << c.what;
        }
        for (const std::wstring& name : c.files) ASSERT_TRUE(folder.AddFile(name)) << c.what;
        InstallerLog opened;
        const std::set<DWORD> threads = ThreadIds();

        ClickInstall();
        EXPECT_EQ(NewThreads(threads), 0u) << c.what << ": a thread was started";

        ASSERT_TRUE(PumpUntil([&] { return opened.Ends() == 1; }, 30s)) << c.what << ": the page was not opened";
        const auto starts = opened.Of(L"start");
        ASSERT_EQ(starts.size(), 1u) << c.what;
        EXPECT_TRUE(EndsWith(starts[0].commandLine, L"\"" + std::wstring(DriverReleasePage) + L"\""))
            << c.what << ": " << ToUtf8(starts[0].commandLine);
        EXPECT_EQ(starts[0].show, SW_SHOWNORMAL) << c.what;

        // The driver is there by now, so a stray "installed" message would connect it.
        PumpFor(500ms);
        EXPECT_EQ(logs.Count(DriverReady), 0) << c.what;
        EXPECT_FALSE(server->BusConnected()) << c.what;
        EXPECT_EQ(NewThreads(threads), 0u) << c.what;
    }
}

} // namespace
} // namespace Velotrix
