// The server through Winsock, and the log file where Windows keeps it.

#include "Platform/SimulatedBus.h"
#include "Server/Server.h"
#include "Shell/Log.h"
#include "TestPhone.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
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

    // The server's first datagram carries 1; every later one a higher number (ticks send Feedback to
    // the admitted phone in between, so the exact numbers after that are not fixed).
    std::uint16_t lastSequence = 0;
    for (const bool ipv6 : {false, true}) {
        TestPhone phone(ipv6 ? "IPv6 phone" : "IPv4 phone", ipv6 ? 2 : 1, ipv6);
        phone.SendTo(server.Port(), phone.Hello(2));
        auto other = phone.ReceiveStatus();
        ASSERT_TRUE(other) << (ipv6 ? "IPv6" : "IPv4");
        if (lastSequence == 0) {
            EXPECT_EQ(other->sequence, 1);
        }
        EXPECT_GT(other->sequence, lastSequence);
        EXPECT_EQ(other->state, static_cast<std::uint8_t>(PhoneState::OtherVersion));

        phone.SendTo(server.Port(), phone.Hello());
        auto admitted = phone.ReceiveStatus();
        ASSERT_TRUE(admitted);
        EXPECT_GT(admitted->sequence, other->sequence);
        lastSequence = admitted->sequence;
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

    HANDLE reader = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    char buffer[256] = {};
    DWORD read = 0;
    ASSERT_TRUE(ReadFile(reader, buffer, sizeof buffer - 1, &read, nullptr));
    CloseHandle(reader);
    const std::string content(buffer, read);
    // "HH:MM:SS.mmm " then the message, and CR LF on disk.
    ASSERT_EQ(content.size(), 13u + 24u + 2u) << content;
    EXPECT_EQ(content.substr(13), "Velotrix server starting\r\n");
    EXPECT_EQ(content[2], ':');
    EXPECT_EQ(content[8], '.');

    HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);

    EXPECT_NE(folder.find(L"\\Velotrix"), std::wstring::npos);
}

} // namespace
} // namespace Velotrix
