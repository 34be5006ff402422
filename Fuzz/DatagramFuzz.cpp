// Raw bytes through the server's real entry point, HandleDatagram, with the tick and the user's
// clicks in between, on the simulated bus. An input is read as:
//
//   byte 0     setup: bit 0 the driver is missing when the server starts (installed right after, so a
//              ConnectBus step can connect it), bit 1 askFirst, bit 2 a host name too long for a Status
//   then steps of
//   byte 0     control: bits 0-1 the sender (10.0.0.7 from two ports, which the limits take for one
//              sender, ::1, and an address of fd00::/64); bits 2-4 how far
//              the clock moves first (then Tick runs); bit 5 "patch": the datagram's bytes 8 to 11 become
//              the session number of the listed phone chosen by bits 6-7, so that Input and Bye can
//              name a real phone although session numbers are random
//   byte 1     0 to 239: the length of the datagram whose bytes follow (fewer when the input ends);
//              240 and above: a click or an event instead, applied to the phone chosen by bits 6-7
//
// Every input starts from a new server and a reset bus, so a crash reproduces from its input alone.
// After every step the phone table must make sense, and after the server is gone no pad is left; a
// broken rule aborts (with -close_fd_mask=2 only the stack trace shows, which names the check).

#include "SimulatedBus/SimulatedBus.h"
#include "Server/AdmissionRule.h"
#include "Server/Server.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

namespace {

using namespace Velotrix;

constexpr std::int64_t Ms = 1'000'000;
// Each timing rule of the tick, just past its boundary.
constexpr std::int64_t TimeSteps[8] = {
    0, 1, 10 * Ms, 200 * Ms + 1, 250 * Ms + 1, 500 * Ms + 1, 1000 * Ms, 15'000 * Ms + 1};
constexpr int MaxSteps = 64;
constexpr std::uint8_t FirstClick = 240;

enum Click : std::uint8_t {
    ClickAllow = FirstClick,
    ClickDeny,
    ClickDisconnect,
    ClickAskFirstOff,
    ClickAskFirstOn,
    ClickConnectBus,
    PlugsRefused,
    PlugsAccepted,
    UserIndexesGiven,
    SettingsRestored, // SetAllowed with the allowed list read back
    ClickForget,      // the chosen phone's id leaves the remembered phones
};

// Both families hold the address from byte 4 (IPv4) or byte 8 (IPv6) of the socket address.
SocketAddress Elsewhere(bool ipv6, std::uint16_t port) {
    SocketAddress address = LoopbackAddress(ipv6, port);
    if (ipv6) {
        address.bytes[8] = 0xFD;
        address.bytes[23] = 2;
    } else {
        address.bytes[4] = 10;
        address.bytes[7] = 7;
    }
    return MapToIpv6(address);
}

const SocketAddress& Sender(int index) {
    static const SocketAddress senders[4] = {
        Elsewhere(false, 50001),
        LoopbackAddress(true, 50002),
        Elsewhere(false, 50003),
        Elsewhere(true, 50004),
    };
    return senders[index & 3];
}

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "DatagramFuzz: %s\n", what);
    std::abort();
}

void CheckTable(Server& server) {
    std::set<std::uint32_t> sessions;
    std::set<std::string> ids;
    std::size_t active = 0;
    for (const PhoneView& view : server.Snapshot()) {
        Require(view.sessionId != 0, "a listed phone has session number 0");
        Require(sessions.insert(view.sessionId).second, "two phones share a session number");
        Require(ids.insert(view.idText).second, "one phone is listed twice");
        Require(view.state <= static_cast<std::uint8_t>(PhoneState::NoDriver), "a listed phone is in OtherVersion");
        Require(view.player >= 0 && view.player <= 4, "a player number outside 0 to 4");
        // Cleaning a cleaned name changes nothing: no control, bidirectional character or bad byte is left.
        Require(CleanName(view.name) == view.name, "a listed name was not cleaned");
        if (view.state == static_cast<std::uint8_t>(PhoneState::Active)) ++active;
    }
    Require(SimulatedBus::PluggedSerials().size() == active, "plugged pads and Active phones differ");
    Require(active <= static_cast<std::size_t>(MaxControllers), "more Active phones than XInput has slots");
}

std::uint32_t SessionOf(Server& server, int index) {
    const std::vector<PhoneView> views = server.Snapshot();
    return views.empty() ? 0 : views[static_cast<std::size_t>(index) % views.size()].sessionId;
}

void Apply(Server& server, std::uint8_t click, int phone) {
    switch (click) {
    case ClickAllow:
        server.Allow(SessionOf(server, phone));
        break;
    case ClickDeny:
        server.Deny(SessionOf(server, phone));
        break;
    case ClickDisconnect:
        server.Disconnect(SessionOf(server, phone));
        break;
    case ClickAskFirstOff:
        server.SetAskFirst(false);
        break;
    case ClickAskFirstOn:
        server.SetAskFirst(true);
        break;
    case ClickConnectBus:
        (void)server.ConnectBus();
        break;
    case PlugsRefused: {
        SimulatedBus::Faults faults;
        faults.plugRefused = true;
        SimulatedBus::SetFaults(faults);
        break;
    }
    case PlugsAccepted:
        SimulatedBus::SetFaults({});
        break;
    case UserIndexesGiven:
        SimulatedBus::GiveUserIndexesNow();
        break;
    case SettingsRestored:
        server.SetAllowed(server.AllowedList());
        break;
    case ClickForget: {
        const std::vector<PhoneView> views = server.Snapshot();
        if (!views.empty()) (void)server.Forget(views[static_cast<std::size_t>(phone) % views.size()].idText);
        break;
    }
    default:
        break;
    }
}

void Run(const std::uint8_t* data, std::size_t size) {
    const std::uint8_t setup = data[0];
    if ((setup & 1) != 0) {
        SimulatedBus::Faults faults;
        faults.noBus = true;
        SimulatedBus::SetFaults(faults);
    }
    // Player numbers come late, so the tick's queries run too.
    SimulatedBus::SetUserIndexDelay(std::chrono::hours(1));
    Server server;
    SimulatedBus::SetFaults({});
    server.SetAskFirst((setup & 2) != 0);
    // 62 ASCII bytes, then a two-byte character across the 63-byte limit.
    server.SetHostName((setup & 4) != 0 ? std::string(62, 'P') + "\xC3\xA9" + "C" : std::string("RACING-PC"));
    // Set, so that the Hello of a waiting phone releases the mutex and looks its phone up again.
    server.SetOnRequest([](const std::string&) {});
    server.SetOnChanged([] {});
    server.SetOnAllowedChanged([] {});

    std::int64_t now = 1'000 * Ms;
    std::size_t at = 1;
    for (int step = 0; step < MaxSteps && at + 2 <= size; ++step) {
        const std::uint8_t control = data[at];
        const std::uint8_t op = data[at + 1];
        at += 2;
        const int phone = control >> 6;
        if (const std::int64_t advance = TimeSteps[(control >> 2) & 7]; advance > 0) {
            now += advance;
            server.Tick(now);
        }
        if (op >= FirstClick) {
            Apply(server, op, phone);
        } else {
            const std::size_t length = op < size - at ? op : size - at;
            // An exact-size copy, so the sanitizer sees any read past the datagram's end.
            std::vector<std::uint8_t> datagram(data + at, data + at + length);
            at += length;
            if ((control & 0x20) != 0 && length >= 12) {
                const std::uint32_t session = SessionOf(server, phone);
                for (std::size_t i = 0; i < 4; ++i) datagram[8 + i] = static_cast<std::uint8_t>(session >> (8 * i));
            }
            server.HandleDatagram(datagram.data(), static_cast<int>(length), Sender(control & 3), now);
        }
        CheckTable(server);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) return 0;
    SimulatedBus::Reset();
    Run(data, size);
    Require(SimulatedBus::PluggedSerials().empty(), "a pad outlived its server");
    return 0;
}
