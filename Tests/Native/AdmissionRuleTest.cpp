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
        {"no room, waiting phones do not count again",
         with([](auto& f) { f.known = true, f.current = NoRoom, f.active = 3, f.waiting = 1; }), Waiting},
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

} // namespace
} // namespace Velotrix
