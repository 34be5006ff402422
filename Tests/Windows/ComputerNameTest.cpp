#include "Shell/ComputerName.h"

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "Shell/TextConversion.h"

namespace Velotrix {
namespace {

TEST(ComputerNameTest, IsTheHostNameWithoutTerminator) {
    const std::wstring name = ComputerName();
    ASSERT_FALSE(name.empty());
    EXPECT_EQ(name.find(L'\0'), std::wstring::npos);

    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    char host[256] = {};
    const int answer = gethostname(host, sizeof host);
    WSACleanup();
    ASSERT_EQ(answer, 0);
    EXPECT_EQ(_wcsicmp(name.c_str(), ToUtf16(host).c_str()), 0) << ToUtf8(name) << " vs " << host;
}

} // namespace
} // namespace Velotrix
