// The admission rule over plain facts, one row per way a Hello can end.

#include "Server/AdmissionRule.h"

#include <gtest/gtest.h>

namespace Velotrix {
namespace {

constexpr PhoneState Active = PhoneState::Active, Waiting = PhoneState::Waiting, Refused = PhoneState::Refused,
                     NoRoom = PhoneState::NoRoom, NoDriver = PhoneState::NoDriver;

TEST(AdmissionRuleTest, EveryWayAHelloCanEnd) {
    struct Case {
        const char* what;
        AdmissionFacts facts;
        PhoneState expected;
    };
    // Defaults: a new phone, an empty table, the bus connected, ask first on, not allowed, a plug free.
    const AdmissionFacts base{.busConnected = true, .plugAvailable = true};
    const auto with = [&](auto change) {
        AdmissionFacts facts = base;
        change(facts);
        return facts;
    };
    const Case cases[] = {
        {"new, unknown: waits", base, Waiting},
        {"new, allowed: admitted", with([](auto& f) { f.allowed = true; }), Active},
        {"new, ask first off: admitted", with([](auto& f) { f.askFirst = false; }), Active},
        {"new, allowed, no plug free: no room for now",
         with([](auto& f) { f.allowed = true, f.plugAvailable = false; }), NoRoom},
        {"new, waiting needs no plug", with([](auto& f) { f.plugAvailable = false; }), Waiting},
        {"new, no driver", with([](auto& f) { f.busConnected = false, f.allowed = true; }), NoDriver},
        {"new, three active and one waiting: no room", with([](auto& f) { f.active = 3, f.waiting = 1; }), NoRoom},
        {"new, room beats the driver", with([](auto& f) { f.active = 4, f.busConnected = false; }), NoRoom},
        {"new, three taken: room", with([](auto& f) { f.active = 2, f.waiting = 1, f.allowed = true; }), Active},
        {"new, refused: refused before room and approval",
         with([](auto& f) { f.refused = true, f.allowed = true, f.active = 4; }), Refused},
        {"no room, three active and one waiting: no room to wait in",
         with([](auto& f) { f.known = true, f.current = NoRoom, f.active = 3, f.waiting = 1; }), NoRoom},
        {"no room, active and waiting leave room: waits",
         with([](auto& f) { f.known = true, f.current = NoRoom, f.active = 2, f.waiting = 1; }), Waiting},
        {"no room, three active and one waiting, allowed: admitted",
         with([](auto& f) { f.known = true, f.current = NoRoom, f.active = 3, f.waiting = 1, f.allowed = true; }),
         Active},
        {"no room, four active: stays", with([](auto& f) { f.known = true, f.current = NoRoom, f.active = 4; }),
         NoRoom},
        {"no room, allowed and a plug: admitted",
         with([](auto& f) { f.known = true, f.current = NoRoom, f.allowed = true; }), Active},
        {"no room, allowed, no plug: stays",
         with([](auto& f) { f.known = true, f.current = NoRoom, f.allowed = true, f.plugAvailable = false; }), NoRoom},
        {"no room, driver gone: stays",
         with([](auto& f) { f.known = true, f.current = NoRoom, f.busConnected = false; }), NoRoom},
        {"no driver, driver back: decided again",
         with([](auto& f) { f.known = true, f.current = NoDriver, f.askFirst = false; }), Active},
        {"no driver, still none: stays",
         with([](auto& f) { f.known = true, f.current = NoDriver, f.busConnected = false; }), NoDriver},
        {"waiting stays waiting", with([](auto& f) { f.known = true, f.current = Waiting, f.allowed = true; }),
         Waiting},
        {"refused stays refused", with([](auto& f) { f.known = true, f.current = Refused, f.askFirst = false; }),
         Refused},
        {"active stays active", with([](auto& f) { f.known = true, f.current = Active, f.active = 4; }), Active},
    };
    for (const Case& c : cases) EXPECT_EQ(DecideAdmission(c.facts), c.expected) << c.what;
}

TEST(AdmissionRuleTest, NamesAreCleanedOfWhatCouldForgeALineOrTurnText) {
    struct Case {
        const char* what;
        std::string raw;
        std::string clean;
    };
    const std::string r = "\xEF\xBF\xBD"; // U+FFFD
    const Case cases[] = {
        {"plain text, typographic quote and emoji kept", "Anna\xE2\x80\x99s iPhone \xF0\x9F\x8F\x8E",
         "Anna\xE2\x80\x99s iPhone \xF0\x9F\x8F\x8E"},
        {"line feed, carriage return, NUL", std::string("a\nb\rc\0d", 7), "a" + r + "b" + r + "c" + r + "d"},
        {"escape, tab, unit separator, DEL", "\x1B[31m\t\x1F\x7F", r + "[31m" + r + r + r},
        {"C1 controls (NEL, CSI) and their neighbours", "\xC2\x85\xC2\x9B\xC2\xA0\xC2\x7E",
         r + r + "\xC2\xA0" + r + "~"},
        {"embedding and override U+202A..U+202E", "\xE2\x80\xAA\xE2\x80\xAE\xE2\x80\xA9\xE2\x80\xAF",
         r + r + r + "\xE2\x80\xAF"},
        {"isolates U+2066..U+2069, not U+2065 or U+206A", "\xE2\x81\xA5\xE2\x81\xA6\xE2\x81\xA9\xE2\x81\xAA",
         "\xE2\x81\xA5" + r + r + "\xE2\x81\xAA"},
        {"line separator U+2028, U+2027 kept", "\xE2\x80\xA8\xE2\x80\xA7", r + "\xE2\x80\xA7"},
        {"a byte that starts nothing",
         "a\x80"
         "b\xFF",
         "a" + r + "b" + r},
        {"overlong slash and overlong three-byte form", "\xC0\xAF\xE0\x80\xAF", r + r + r + r + r},
        {"surrogate U+D800, U+D7FF kept", "\xED\xA0\x80\xED\x9F\xBF", r + r + r + "\xED\x9F\xBF"},
        {"past U+10FFFF, U+10FFFF kept", "\xF4\x90\x80\x80\xF4\x8F\xBF\xBF", r + r + r + r + "\xF4\x8F\xBF\xBF"},
        {"cut short at the end", "ok\xE2\x82", "ok" + r + r},
    };
    for (const Case& c : cases) EXPECT_EQ(CleanName(c.raw), c.clean) << c.what;
}

} // namespace
} // namespace Velotrix
