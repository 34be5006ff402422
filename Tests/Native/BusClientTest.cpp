// The bus client against the simulated bus: request bytes, check order, serial search, results, threads.

#include "Controllers/BusClient.h"
#include "SimulatedBus/SimulatedBus.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Velotrix {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto Patience = 5000ms;

// The input of the last request with `code` as the bus received it, and the size of its output buffer.
using Sent = std::pair<Bytes, std::size_t>;
Sent Last(std::uint32_t code) {
    SimulatedBus::RecordedRequest request;
    if (!SimulatedBus::LastRequest(code, request)) {
        ADD_FAILURE() << "no request 0x" << std::hex << code;
        return {};
    }
    return {Bytes(request.input.begin(), request.input.begin() + static_cast<std::ptrdiff_t>(request.inputSize)),
            request.outputSize};
}

Bytes PlugInBytes(std::uint32_t serial) {
    const auto low = static_cast<std::uint8_t>(serial), high = static_cast<std::uint8_t>(serial >> 8);
    return {16, 0, 0, 0, low, high, 0, 0, 0, 0, 0, 0, 0x5E, 0x04, 0x8E, 0x02};
}

Bytes SerialBytes(std::uint32_t serial) {
    return {8, 0, 0, 0, static_cast<std::uint8_t>(serial), static_cast<std::uint8_t>(serial >> 8), 0, 0};
}

struct Rumble {
    std::uint8_t large = 0, small = 0, led = 0;
    BusConnection* bus = nullptr;
    PadTarget* target = nullptr;
    void* context = nullptr;
    bool operator==(const Rumble&) const = default;
};

// What the notification callback saw, in order.
class RumbleLog {
public:
    void Add(const Rumble& rumble) {
        std::lock_guard<std::mutex> lock(mutex);
        seen.push_back(rumble);
        arrived.notify_all();
    }
    bool WaitForCount(std::size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return arrived.wait_for(lock, Patience, [&] { return seen.size() == count; });
    }
    std::vector<Rumble> Seen() {
        std::lock_guard<std::mutex> lock(mutex);
        return seen;
    }

private:
    std::mutex mutex;
    std::condition_variable arrived;
    std::vector<Rumble> seen;
};

// The callbacks find the log through their context, as the server finds its Pad.
void RecordRumble(BusConnection* bus, PadTarget* target, std::uint8_t large, std::uint8_t small, std::uint8_t led,
                  void* context) {
    static_cast<RumbleLog*>(context)->Add(Rumble{large, small, led, bus, target, context});
}

class BusClientTest : public ::testing::Test {
protected:
    void SetUp() override { SimulatedBus::Reset(); }

    void TearDown() override {
        bus.Close();
        // A thread still running could use a target: then leak them rather than crash.
        if (!bus.WaitForNotificationThreads(Patience)) {
            ADD_FAILURE() << "a notification thread did not end";
            for (auto& target : targets) (void)target.release();
        }
        SimulatedBus::Reset();
    }

    PadTarget* NewTarget() {
        targets.push_back(AllocTarget());
        return targets.back().get();
    }

    PadTarget* PluggedTarget() {
        PadTarget* target = NewTarget();
        EXPECT_EQ(bus.PlugTarget(*target), ResultOk);
        return target;
    }

    void Connect() { ASSERT_EQ(bus.Open(), ResultOk); }

    // A fresh bus for each case of a table.
    void Reconnect() {
        bus.Close();
        SimulatedBus::Reset();
        Connect();
    }

    BusConnection bus;
    std::vector<std::unique_ptr<PadTarget>> targets;
};

TEST_F(BusClientTest, OpenAnswersForEveryShapeOfTheBusAndCanBeRetried) {
    using Interface = SimulatedBus::InterfaceBehaviour;
    const Interface healthy{}, unreadable{.detailsUnreadable = true}, wontOpen{.openFails = true},
        oldVersion{.versionRefused = true};
    struct Case {
        const char* name;
        std::vector<Interface> interfaces;
        SimulatedBus::Faults faults;
        BusResult expected;
    };
    const Case cases[] = {
        {"no interface", {healthy}, {.noBus = true}, ErrBusMissing},
        {"healthy", {healthy}, {}, ResultOk},
        {"path will not open", {healthy}, {.openFails = true}, ErrBusOpen},
        {"version refused", {healthy}, {.versionRefused = true}, ErrBusVersion},
        {"details unreadable", {unreadable}, {}, ErrBusMissing},
        {"last tried would not open", {oldVersion, wontOpen}, {}, ErrBusOpen},
        {"last tried refused the version", {wontOpen, oldVersion}, {}, ErrBusVersion},
        {"last tried unreadable", {oldVersion, unreadable}, {}, ErrBusMissing},
        {"second one works", {oldVersion, healthy}, {}, ResultOk},
        {"first one works", {healthy, oldVersion}, {}, ResultOk},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        SimulatedBus::Reset();
        SimulatedBus::SetInterfaces(test.interfaces);
        SimulatedBus::SetFaults(test.faults);
        BusConnection connection;
        EXPECT_EQ(connection.Open(), test.expected);
        const bool connected = test.expected == ResultOk;
        EXPECT_EQ(connection.IsOpen(), connected);
        // A device that refused the version was closed again.
        EXPECT_EQ(SimulatedBus::OpenHandleCount(), connected ? 1u : 0u);
        if (SimulatedBus::RequestCount(BusRequestCheckVersion) > 0) {
            EXPECT_EQ(Last(BusRequestCheckVersion), Sent(SerialBytes(1), 0));
        }
        if (connected) continue;
        SimulatedBus::Reset(); // once the bus is healthy, the same connection opens
        EXPECT_EQ(connection.Open(), ResultOk);
    }
}

TEST_F(BusClientTest, CloseReleasesTheHandleAndUnplugsTheConnectionsPads) {
    Connect();
    EXPECT_EQ(bus.Open(), ErrBusConnected); // a second open would leak a handle, seen by the count below
    EXPECT_EQ(PluggedTarget()->serial, 1u);
    EXPECT_EQ(PluggedTarget()->serial, 2u);
    EXPECT_EQ(SimulatedBus::PluggedSerials(), (std::vector<std::uint32_t>{1, 2}));
    bus.Close();
    EXPECT_FALSE(bus.IsOpen());
    EXPECT_EQ(SimulatedBus::OpenHandleCount(), 0u);
    EXPECT_TRUE(SimulatedBus::PluggedSerials().empty());
    bus.Close();
    EXPECT_EQ(bus.Open(), ResultOk);
}

TEST_F(BusClientTest, EveryOperationWithoutADeviceHandleAnswersBusMissingAndSendsNothing) {
    struct Operation {
        const char* name;
        std::function<BusResult(PadTarget&)> call;
    };
    std::uint32_t index = 0;
    const Operation operations[] = {
        {"PlugTarget", [&](PadTarget& t) { return bus.PlugTarget(t); }},
        {"UnplugTarget", [&](PadTarget& t) { return bus.UnplugTarget(t); }},
        {"SubmitReport", [&](PadTarget& t) { return bus.SubmitReport(t, ControllerReport{}); }},
        {"GetUserIndex", [&](PadTarget& t) { return bus.GetUserIndex(t, index); }},
        {"RegisterNotification", [&](PadTarget& t) { return bus.RegisterNotification(t, &RecordRumble, nullptr); }},
    };
    // Plugged with a serial, so that only the missing handle can fail.
    PadTarget target;
    target.state = TargetPlugged;
    target.serial = 1;
    for (const Operation& operation : operations) {
        SCOPED_TRACE(operation.name);
        EXPECT_EQ(operation.call(target), ErrBusMissing);
    }
    EXPECT_EQ(SimulatedBus::RequestCount(), 0u);
    EXPECT_EQ(target.callback.load(), nullptr);
}

// Serial 0 expected: every number is taken, and the target stays as it was.
TEST_F(BusClientTest, PlugSearchesFromOneForTheLowestSerialTheBusAcceptsThenWaitsUntilReady) {
    struct Case {
        std::uint32_t takenFirst, takenLast, expected;
    };
    for (const Case test :
         {Case{0, 0, 1}, Case{1, 1, 2}, Case{1, 3, 4}, Case{2, 5, 1}, Case{1, 65534, 65535}, Case{1, 65535, 0}}) {
        SCOPED_TRACE(test.expected);
        Reconnect();
        if (test.takenFirst != 0) SimulatedBus::MarkSerialsTaken(test.takenFirst, test.takenLast);
        PadTarget* target = NewTarget();
        ASSERT_NE(target, nullptr);
        EXPECT_EQ(target->state, TargetReadyToPlug);
        EXPECT_EQ(target->serial, 0u);
        const bool found = test.expected != 0;
        EXPECT_EQ(bus.PlugTarget(*target), found ? ResultOk : ErrNoFreeSerial);
        EXPECT_EQ(target->state, found ? TargetPlugged : TargetReadyToPlug);
        EXPECT_EQ(target->serial, test.expected);
        // One plug in per number tried.
        const std::uint32_t tried = found ? test.expected : 65535;
        EXPECT_EQ(SimulatedBus::RequestCount(BusRequestPlugIn), tried);
        EXPECT_EQ(Last(BusRequestPlugIn), Sent(PlugInBytes(tried), 0));
        EXPECT_EQ(SimulatedBus::RequestCount(BusRequestWaitReady), found ? 1u : 0u);
        if (found) {
            EXPECT_EQ(Last(BusRequestWaitReady), Sent(SerialBytes(test.expected), 0));
        }
        EXPECT_EQ(SimulatedBus::PluggedSerials(),
                  found ? std::vector<std::uint32_t>{test.expected} : std::vector<std::uint32_t>{});
    }
}

TEST_F(BusClientTest, ReadinessReplyDecidesWhetherThePadIsPlugged) {
    struct Case {
        const char* name;
        SimulatedBus::ReadyReply reply;
        BusResult expected;
        std::uint32_t state;
        bool stillOnTheBus;
    };
    const Case cases[] = {
        {"ready", SimulatedBus::ReadyReply::Ready, ResultOk, TargetPlugged, true},
        {"request not offered (87)", SimulatedBus::ReadyReply::Unsupported, ResultOk, TargetPlugged, true},
        {"wait failed", SimulatedBus::ReadyReply::Fails, ErrNotPlugged, TargetReadyToPlug, false},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Reconnect();
        SimulatedBus::SetReadyReply(test.reply);
        PadTarget* target = NewTarget();
        EXPECT_EQ(bus.PlugTarget(*target), test.expected);
        EXPECT_EQ(target->state, test.state);
        EXPECT_EQ(SimulatedBus::RequestCount(BusRequestWaitReady), 1u);
        EXPECT_EQ(SimulatedBus::PluggedSerials().size(), test.stillOnTheBus ? 1u : 0u);
    }
}

TEST_F(BusClientTest, FailedPlugOrUnplugLeavesTheTargetAsItWas) {
    struct Case {
        const char* name;
        BusResult (BusConnection::*operation)(PadTarget&);
        std::uint32_t state, serial;
        BusResult expected;
        std::uint64_t requestsSent;
    };
    const Case cases[] = {
        {"plug never set up", &BusConnection::PlugTarget, TargetNotInitialised, 3, ErrTargetNotReady, 0},
        {"plug plugged", &BusConnection::PlugTarget, TargetPlugged, 3, ErrAlreadyPlugged, 0},
        {"unplug never set up", &BusConnection::UnplugTarget, TargetNotInitialised, 3, ErrTargetNotReady, 0},
        {"unplug ready", &BusConnection::UnplugTarget, TargetReadyToPlug, 3, ErrNotPlugged, 0},
        {"unplug unplugged", &BusConnection::UnplugTarget, TargetUnplugged, 3, ErrNotPlugged, 0},
        {"unplug another program's pad (5)", &BusConnection::UnplugTarget, TargetPlugged, 7, ErrUnplugFailed, 1},
        {"unplug a serial the bus does not know (1167)", &BusConnection::UnplugTarget, TargetPlugged, 9, ErrBusLost, 1},
    };
    Connect();
    SimulatedBus::MarkSerialsTaken(7, 7);
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        PadTarget target;
        target.serial = test.serial;
        target.state = test.state;
        const std::uint64_t requests = SimulatedBus::RequestCount();
        EXPECT_EQ((bus.*test.operation)(target), test.expected);
        EXPECT_EQ(SimulatedBus::RequestCount() - requests, test.requestsSent);
        EXPECT_EQ(target.state, test.state);
        EXPECT_EQ(target.serial, test.serial);
    }
}

TEST_F(BusClientTest, UnplugSendsTheSerialKeepsItAndALaterPlugSearchesFromOne) {
    Connect();
    SimulatedBus::MarkSerialsTaken(1, 1);
    PadTarget* target = PluggedTarget();
    ASSERT_EQ(target->serial, 2u);
    EXPECT_EQ(bus.UnplugTarget(*target), ResultOk);
    EXPECT_EQ(Last(BusRequestUnplug), Sent(SerialBytes(2), 0));
    EXPECT_EQ(target->state, TargetUnplugged);
    EXPECT_EQ(target->serial, 2u);
    EXPECT_TRUE(SimulatedBus::PluggedSerials().empty());

    SimulatedBus::MarkSerialsTaken(1, 1, false);
    EXPECT_EQ(bus.PlugTarget(*target), ResultOk);
    EXPECT_EQ(target->serial, 1u);
    EXPECT_EQ(target->state, TargetPlugged);
}

TEST_F(BusClientTest, SubmitReportSendsTheSerialAndTheReportBytes) {
    Connect();
    SimulatedBus::MarkSerialsTaken(1, 2);
    ControllerReport report{.buttons = ButtonY | ButtonStart | ButtonDpadUp,
                            .leftTrigger = 0x7F,
                            .rightTrigger = 0xFF,
                            .leftStickX = -32768,
                            .leftStickY = 32767,
                            .rightStickX = -2,
                            .rightStickY = 0x1234};
    EXPECT_EQ(bus.SubmitReport(*PluggedTarget(), report), ResultOk);
    EXPECT_EQ(
        Last(BusRequestSubmitReport),
        Sent({20, 0, 0, 0, 3, 0, 0, 0, 0x11, 0x80, 0x7F, 0xFF, 0x00, 0x80, 0xFF, 0x7F, 0xFE, 0xFF, 0x34, 0x12}, 0));
    EXPECT_EQ(SimulatedBus::ReportCount(3), 1u);
}

TEST_F(BusClientTest, SubmitReportIsRefusedOnlyForSerialZeroAndAccessDenied) {
    struct Case {
        const char* name;
        std::uint32_t serial, state; // serial 0xFFFFFFFF: the plugged pad's own
        BusResult expected;
        std::uint64_t requestsSent, reportsReceived;
    };
    constexpr std::uint32_t Own = 0xFFFFFFFF;
    const Case cases[] = {
        {"own plugged pad", Own, TargetPlugged, ResultOk, 1, 1},
        {"state is not checked", Own, TargetReadyToPlug, ResultOk, 1, 1},
        {"serial 0", 0, TargetPlugged, ErrBadTarget, 0, 0},
        {"another program's pad (5)", 7, TargetPlugged, ErrBadTarget, 1, 0},
        {"pad not on the bus (1167): the bus lost it", 9, TargetPlugged, ErrBusLost, 1, 0},
    };
    Connect();
    SimulatedBus::MarkSerialsTaken(7, 7);
    PadTarget* plugged = PluggedTarget();
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        PadTarget target;
        target.serial = test.serial == Own ? plugged->serial : test.serial;
        target.state = test.state;
        const std::uint64_t requests = SimulatedBus::RequestCount();
        const std::uint64_t reports = SimulatedBus::ReportCount(plugged->serial);
        EXPECT_EQ(bus.SubmitReport(target, ControllerReport{}), test.expected);
        EXPECT_EQ(SimulatedBus::RequestCount() - requests, test.requestsSent);
        EXPECT_EQ(SimulatedBus::ReportCount(plugged->serial) - reports, test.reportsReceived);
    }
}

TEST_F(BusClientTest, GetUserIndexMapsTheDriversAnswers) {
    struct Case {
        const char* name;
        bool indexDelayed;
        std::function<void(PadTarget&)> alter; // applied to the plugged target
        BusResult expected;
        std::uint32_t stored; // what the place holds afterwards; it starts at 77
        std::uint64_t requestsSent;
    };
    const auto keep = [](PadTarget&) {};
    const Case cases[] = {
        {"index given", false, keep, ResultOk, 0, 1},
        {"no index yet (650)", true, keep, ErrUserIndexRange, 77, 1},
        {"serial 0", false, [](PadTarget& t) { t.serial = 0; }, ErrBadTarget, 77, 0},
        {"not an Xbox 360 pad", false, [](PadTarget& t) { t.type = 1; }, ErrBadTarget, 77, 0},
        {"another program's pad (5)", false, [](PadTarget& t) { t.serial = 7; }, ErrBadTarget, 77, 1},
        {"pad not on the bus (1167)", false, [](PadTarget& t) { t.serial = 9; }, ErrBusLost, 77, 1},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Reconnect();
        SimulatedBus::MarkSerialsTaken(7, 7);
        if (test.indexDelayed) SimulatedBus::SetUserIndexDelay(1h);
        PadTarget* target = PluggedTarget();
        test.alter(*target);
        std::uint32_t place = 77;
        const std::uint64_t requests = SimulatedBus::RequestCount();
        EXPECT_EQ(bus.GetUserIndex(*target, place), test.expected);
        EXPECT_EQ(place, test.stored);
        EXPECT_EQ(SimulatedBus::RequestCount() - requests, test.requestsSent);
        const auto serial = static_cast<std::uint8_t>(target->serial);
        if (test.requestsSent > 0) {
            EXPECT_EQ(Last(BusRequestUserIndex), Sent({12, 0, 0, 0, serial, 0, 0, 0, 0, 0, 0, 0}, 12));
        }
    }
}

TEST_F(BusClientTest, OnlyTheErrorsOfADeviceThatIsGoneCountAsGone) {
    for (const std::uint32_t gone : {6u, 22u, 1167u, 1617u}) EXPECT_TRUE(DeviceGone(gone)) << gone;
    for (const std::uint32_t alive : {0u, 1u, 5u, 31u, 50u, 87u, 183u, 650u, 995u, 1450u})
        EXPECT_FALSE(DeviceGone(alive)) << alive;
}

TEST_F(BusClientTest, ARemovedBusIsNoticedByEveryRequestAndAbandonedForANewOne) {
    Connect();
    PadTarget* target = PluggedTarget();
    RumbleLog log;
    ASSERT_EQ(bus.RegisterNotification(*target, &RecordRumble, &log), ResultOk);
    ASSERT_TRUE(SimulatedBus::WaitForPendingNotifications(1, Patience));
    EXPECT_TRUE(bus.StillListed());
    EXPECT_EQ(bus.CheckDevice(), ResultOk);
    SimulatedBus::RemoveBus();
    // The pending notification ends (995); asked again, the old handle answers that it is gone.
    EXPECT_TRUE(bus.WaitForNotificationThreads(Patience));
    EXPECT_TRUE(bus.GoneNoticed());
    EXPECT_FALSE(bus.StillListed());
    std::uint32_t index = 77;
    EXPECT_EQ(bus.SubmitReport(*target, ControllerReport{}), ErrBusLost);
    EXPECT_EQ(bus.GetUserIndex(*target, index), ErrBusLost);
    EXPECT_EQ(bus.CheckDevice(), ErrBusLost);
    PadTarget* other = NewTarget();
    const std::uint64_t requests = SimulatedBus::RequestCount(BusRequestPlugIn);
    EXPECT_EQ(bus.PlugTarget(*other), ErrBusLost);
    EXPECT_EQ(SimulatedBus::RequestCount(BusRequestPlugIn) - requests, 1u);
    EXPECT_EQ(log.Seen().size(), 0u);

    AbandonTarget(*target);
    EXPECT_EQ(target->state, TargetUnplugged);
    EXPECT_EQ(target->callback.load(), nullptr);
    bus.Abandon();
    EXPECT_FALSE(bus.GoneNoticed());
    EXPECT_EQ(SimulatedBus::OpenHandleCount(), 0u);
    EXPECT_EQ(bus.Open(), ErrBusMissing);
    SimulatedBus::RestoreBus();
    Connect();
    EXPECT_EQ(bus.PlugTarget(*target), ResultOk);
    EXPECT_EQ(target->serial, 1u);
    EXPECT_TRUE(bus.StillListed());
}

TEST_F(BusClientTest, RegisterNotificationRefusesBadTargetsAndTheSameCallbackTwice) {
    Connect();
    PadTarget* target = PluggedTarget();
    RumbleLog log;
    PadTarget unplugged;
    unplugged.state = TargetReadyToPlug;
    EXPECT_EQ(bus.RegisterNotification(unplugged, &RecordRumble, &log), ErrBadTarget);
    EXPECT_EQ(bus.RegisterNotification(*target, nullptr, &log), ErrBadTarget);
    EXPECT_EQ(target->callback.load(), nullptr);
    EXPECT_EQ(bus.RegisterNotification(*target, &RecordRumble, &log), ResultOk);
    EXPECT_EQ(bus.RegisterNotification(*target, &RecordRumble, &log), ErrCallbackSet);
    EXPECT_EQ(target->callback.load(), &RecordRumble);
    EXPECT_EQ(target->context.load(), &log);
    UnregisterNotification(*target);
    EXPECT_EQ(target->callback.load(), nullptr);
    EXPECT_EQ(target->context.load(), nullptr);
}

TEST_F(BusClientTest, RumbleReachesTheCallbackUntilThePadIsUnplugged) {
    Connect();
    SimulatedBus::MarkSerialsTaken(1, 4);
    PadTarget* target = PluggedTarget();
    RumbleLog log;
    ASSERT_EQ(bus.RegisterNotification(*target, &RecordRumble, &log), ResultOk);
    ASSERT_TRUE(SimulatedBus::WaitForPendingNotifications(1, Patience));
    EXPECT_EQ(Last(BusRequestNotification), Sent({12, 0, 0, 0, 5, 0, 0, 0, 0, 0, 0, 0}, 12));

    ASSERT_TRUE(SimulatedBus::SetRumble(5, 200, 100, 2));
    ASSERT_TRUE(log.WaitForCount(1));
    ASSERT_TRUE(SimulatedBus::WaitForPendingNotifications(1, Patience));
    // The request goes out again with the buffer as it came back.
    EXPECT_EQ(Last(BusRequestNotification), Sent({12, 0, 0, 0, 5, 0, 0, 0, 200, 100, 2, 0}, 12));
    ASSERT_TRUE(SimulatedBus::SetRumble(5, 0, 255, 3));
    ASSERT_TRUE(log.WaitForCount(2));

    EXPECT_EQ(log.Seen(), (std::vector<Rumble>{{200, 100, 2, &bus, target, &log}, {0, 255, 3, &bus, target, &log}}));

    // Unplugging aborts the pending request (995) and the thread ends without another call.
    ASSERT_TRUE(SimulatedBus::WaitForPendingNotifications(1, Patience));
    EXPECT_EQ(bus.UnplugTarget(*target), ResultOk);
    EXPECT_TRUE(bus.WaitForNotificationThreads(Patience));
    EXPECT_EQ(log.Seen().size(), 2u);
    EXPECT_EQ(SimulatedBus::PendingNotifications(), 0u);
}

TEST_F(BusClientTest, NotificationThreadEndsWithoutCallingBackWhenUnregisteredOrThePadIsGone) {
    const auto rumble = [](BusConnection&, PadTarget& t) { SimulatedBus::SetRumble(t.serial, 9, 9, 9); };
    const auto unplug = [](BusConnection& b, PadTarget& t) { EXPECT_EQ(b.UnplugTarget(t), ResultOk); };
    const auto close = [](BusConnection& b, PadTarget&) { b.Close(); };
    struct Case {
        const char* name;
        bool unregisterFirst;
        std::function<void(BusConnection&, PadTarget&)> end;
    };
    const Case cases[] = {
        {"unregistered, then a rumble completes the request", true, rumble},
        {"unregistered, then unplug aborts the request", true, unplug},
        {"unregistered, then closing aborts the request", true, close},
        {"registered, unplugged (995)", false, unplug},
        {"registered, connection closed (995)", false, close},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        Reconnect();
        PadTarget* target = PluggedTarget();
        RumbleLog log;
        ASSERT_EQ(bus.RegisterNotification(*target, &RecordRumble, &log), ResultOk);
        ASSERT_TRUE(SimulatedBus::WaitForPendingNotifications(1, Patience));
        if (test.unregisterFirst) UnregisterNotification(*target);
        test.end(bus, *target);
        EXPECT_TRUE(bus.WaitForNotificationThreads(Patience));
        EXPECT_TRUE(log.Seen().empty());
        EXPECT_EQ(target->callback.load(), test.unregisterFirst ? nullptr : &RecordRumble);
    }
}

TEST_F(BusClientTest, DestroyingAConnectionClosesItAndAbortsItsNotifications) {
    PadTarget* target = NewTarget();
    RumbleLog log;
    {
        BusConnection connection;
        ASSERT_EQ(connection.Open(), ResultOk);
        ASSERT_EQ(connection.PlugTarget(*target), ResultOk);
        ASSERT_EQ(connection.RegisterNotification(*target, &RecordRumble, &log), ResultOk);
        ASSERT_TRUE(SimulatedBus::WaitForPendingNotifications(1, Patience));
    }
    EXPECT_EQ(SimulatedBus::PendingNotifications(), 0u);
    EXPECT_EQ(SimulatedBus::OpenHandleCount(), 0u);
    EXPECT_TRUE(log.Seen().empty());
}

TEST_F(BusClientTest, AccessDeniedEndsTheNotificationThread) {
    Connect();
    SimulatedBus::MarkSerialsTaken(7, 7);
    PadTarget* target = NewTarget();
    target->serial = 7;
    target->state = TargetPlugged;
    RumbleLog log;
    ASSERT_EQ(bus.RegisterNotification(*target, &RecordRumble, &log), ResultOk);
    EXPECT_TRUE(bus.WaitForNotificationThreads(Patience));
    EXPECT_EQ(SimulatedBus::RequestCount(BusRequestNotification), 1u);
    EXPECT_TRUE(log.Seen().empty());
}

} // namespace
} // namespace Velotrix
