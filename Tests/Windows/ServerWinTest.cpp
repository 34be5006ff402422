// The server through Winsock, and the log file where Windows keeps it.

#include "Platform/SimulatedBus.h"
#include "Server/Server.h"
#include "Platform/WinHandles.h"
#include "Shell/Log.h"
#include "TestPhone.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>

namespace Velotrix {
namespace {

TEST(ServerWinTest, AnswersOverIpv4AndIpv6Loopback) {
    SimulatedBus::Reset();
    Server server;
    server.SetHostName("RACING-PC");
    server.SetAskFirst(false);
    std::string error;
    ASSERT_TRUE(server.Start(0, error)) << error;

    for (const bool ipv6 : {false, true}) {
        SCOPED_TRACE(ipv6 ? "IPv6" : "IPv4");
        TestPhone phone(ipv6 ? "IPv6 phone" : "IPv4 phone", ipv6 ? 2 : 1, ipv6);
        phone.SendTo(server.Port(), phone.Hello());
        const auto admitted = phone.ReceiveStatus();
        ASSERT_TRUE(admitted);
        EXPECT_EQ(admitted->state, static_cast<std::uint8_t>(PhoneState::Active));
        EXPECT_EQ(admitted->hostName, "RACING-PC");
        phone.SendTo(server.Port(), phone.Bye(admitted->sessionId));
    }
    server.Stop();
}

TEST(ServerWinTest, PortInUseIsReported) {
    UdpSocket holder;
    ASSERT_EQ(holder.OpenServer(0), SocketResult::Ok);
    Server server;
    std::string error;
    EXPECT_FALSE(server.Start(holder.LocalPort(), error));
    EXPECT_EQ(error, "Port " + std::to_string(holder.LocalPort()) + " is in use. Is the server already running?");
}

TEST(ServerWinTest, LogFileIsTruncatedAndReadableButNotWritableByOthers) {
    const std::wstring folder = LogFolder();
    ASSERT_FALSE(folder.empty());
    const std::wstring path = folder + L"\\server.log";
    {
        std::ofstream previous(path.c_str());
        previous << "a line from the previous run\n";
    }
    StartLog();
    Log("Velotrix server starting");

    const UniqueFileHandle reader(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader) << "others can read the log while the program runs";
    char buffer[256] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(reader.get(), buffer, sizeof buffer - 1, &read, nullptr));
    // One time-stamped line, CR LF on disk; the previous run's line is gone.
    EXPECT_TRUE(std::regex_match(std::string(buffer, read), std::regex("[0-9:.]{12} Velotrix server starting\r\n")))
        << buffer;

    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

} // namespace
} // namespace Velotrix
