// The text "Copy diagnostics" hands over: its sections, and never a whole phone id in it.

#include "Shell/Diagnostics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace Velotrix {
namespace {

const std::string Id = "0123456789abcdef0123456789abcdef";
const std::string Cut = "01234567\xE2\x80\xA6";

// The longest run of hexadecimal digits in `text`: a whole phone id is a run of 32.
std::size_t LongestHexRun(const std::string& text) {
    std::size_t longest = 0, run = 0;
    for (const char c : text) {
        run = std::isxdigit(static_cast<unsigned char>(c)) ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    return longest;
}

TEST(DiagnosticsTest, PhoneIdsAreCutWhereverTheyStand) {
    struct Case {
        std::string text;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {Id, Cut},
        {"Hello from \"Maya\" (" + Id + "): 0", "Hello from \"Maya\" (" + Cut + "): 0"},
        {Id + "," + Id, Cut + "," + Cut},
        {"0123456789ABCDEF0123456789ABCDEF", "01234567\xE2\x80\xA6"},
        // One digit short or over is not an id: a hash, a time or an address stays whole.
        {Id.substr(1), Id.substr(1)},
        {Id + "0", Id + "0"},
        {"port 47821, 0x20000000", "port 47821, 0x20000000"},
    };
    for (const Case& c : cases) EXPECT_EQ(CutPhoneIds(c.text), c.expected) << c.text;
}

TEST(DiagnosticsTest, LastLinesKeepsTheEndWithoutLineEnds) {
    EXPECT_EQ(LastLines("a\r\nb\r\nc\r\n", 2), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(LastLines("a\nb", 5), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(LastLines("", 5), std::vector<std::string>{});
    EXPECT_EQ(LastLines("a\n\nb\n", 3), (std::vector<std::string>{"a", "", "b"}));
}

TEST(DiagnosticsTest, TextHoldsEverySectionAndNoWholePhoneId) {
    DiagnosticsInput input;
    input.version = "1.0.0";
    input.when = "2026-12-07 08:00";
    input.checks = {{CheckOutcome::Pass, "socket", "listening on all interfaces, UDP 47821"}};
    PhoneView phone;
    phone.idText = Id;
    phone.name = "Maya\xE2\x80\x99s iPhone";
    phone.address = "192.168.1.57";
    phone.state = 0;
    phone.player = 1;
    phone.inputRate = 250;
    input.phones = {phone};
    input.settings.allowed = {Id, "fedcba9876543210fedcba9876543210"};
    input.port = 47821;
    input.logLines = {"08:00:00.000 Hello from \"Maya\xE2\x80\x99s iPhone\" (" + Id + "): 0"};

    const std::string text = DiagnosticsText(input);
    for (const char* section : {"\nChecks\n", "\nPhones\n", "\nSettings\n", "\nLog (last 200 lines)\n"})
        EXPECT_NE(text.find(section), std::string::npos) << section;
    EXPECT_NE(text.find("PASS socket: listening"), std::string::npos);
    EXPECT_NE(text.find("id " + Cut + ", from 192.168.1.57, Active, player 1, 250 inputs/s"), std::string::npos);
    EXPECT_NE(text.find("allowed phones: " + Cut + " fedcba98\xE2\x80\xA6"), std::string::npos);
    EXPECT_NE(text.find("(" + Cut + "): 0"), std::string::npos);
    EXPECT_LT(LongestHexRun(text), 32u) << text;
}

} // namespace
} // namespace Velotrix
