// What the receive thread spends on one Input datagram besides the socket receive: the checks, the
// table lookup, the sequence rule, the mapping and the report's submission to the simulated bus. The
// server has no socket here, so nothing is sent either. SimulatedSubmitReport is the simulated bus's
// own share, to be subtracted for the server's work alone; WifiArrival the Wi-Fi figures' share.

#include "Controllers/BusClient.h"
#include "SimulatedBus/SimulatedBus.h"
#include "Platform/UdpSocket.h"
#include "Server/LinkStats.h"
#include "Server/Server.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Velotrix {
namespace {

constexpr std::int64_t Ms = 1'000'000;

// A server with `count` Active phones, admitted by their Hello; answers their session numbers.
std::vector<std::uint32_t> Admit(Server& server, int count, std::vector<SocketAddress>& addresses) {
    server.SetAskFirst(false);
    for (int phone = 0; phone < count; ++phone) {
        PhoneId id;
        id.bytes[0] = static_cast<std::uint8_t>(phone + 1);
        std::array<std::uint8_t, HelloMinimum + MaxNameLength> hello{};
        const int length = BuildHello(hello, ProtocolVersion, 0, id, "Phone " + std::to_string(phone));
        addresses.push_back(MapToIpv6(LoopbackAddress(false, static_cast<std::uint16_t>(50000 + phone))));
        server.HandleDatagram(hello.data(), length, addresses.back(), 0);
    }
    std::vector<std::uint32_t> sessions;
    for (const PhoneView& view : server.Snapshot()) sessions.push_back(view.sessionId);
    return sessions;
}

struct InputBytes {
    std::array<std::uint8_t, InputSize> bytes{};
    void Make(std::uint32_t session) {
        InputDatagram input;
        input.state.sessionId = session;
        input.state.leftX = -12000;
        input.state.rightTrigger = 40000;
        input.state.buttons = 0x0301;
        input.state.echo = 42;
        BuildInput(bytes, ProtocolVersion, input);
    }
    void SetSequence(std::uint16_t sequence) {
        bytes[6] = static_cast<std::uint8_t>(sequence);
        bytes[7] = static_cast<std::uint8_t>(sequence >> 8);
    }
};

// `phones` Active phones take turns; every Input is newer than the last of its phone, so each is applied.
void AcceptedInput(benchmark::State& state) {
    SimulatedBus::Reset();
    const int phones = static_cast<int>(state.range(0));
    std::uint64_t reportsBefore = 0;
    {
        Server server;
        std::vector<SocketAddress> addresses;
        const std::vector<std::uint32_t> sessions = Admit(server, phones, addresses);
        if (static_cast<int>(sessions.size()) != phones) {
            state.SkipWithError("the phones were not admitted");
            return;
        }
        std::vector<InputBytes> inputs(sessions.size());
        for (std::size_t i = 0; i < sessions.size(); ++i) inputs[i].Make(sessions[i]);
        for (const std::uint32_t serial : SimulatedBus::PluggedSerials())
            reportsBefore += SimulatedBus::ReportCount(serial);

        std::uint16_t sequence = 0;
        std::int64_t now = 1000 * Ms;
        std::size_t turn = 0;
        for (auto _ : state) {
            InputBytes& input = inputs[turn];
            input.SetSequence(sequence);
            now += 1 * Ms;
            server.HandleDatagram(input.bytes.data(), InputSize, addresses[turn], now);
            if (++turn == inputs.size()) {
                turn = 0;
                ++sequence;
            }
        }
        std::uint64_t reports = 0;
        for (const std::uint32_t serial : SimulatedBus::PluggedSerials()) reports += SimulatedBus::ReportCount(serial);
        if (reports - reportsBefore != static_cast<std::uint64_t>(state.iterations()))
            state.SkipWithError("not every Input became a report");
    }
    state.SetItemsProcessed(state.iterations());
    SimulatedBus::Reset();
}
BENCHMARK(AcceptedInput)->Arg(1)->Arg(4);

// The same Input again and again: dropped by the sequence rule, nothing submitted.
void DuplicateInput(benchmark::State& state) {
    SimulatedBus::Reset();
    {
        Server server;
        std::vector<SocketAddress> addresses;
        const std::vector<std::uint32_t> sessions = Admit(server, 1, addresses);
        InputBytes input;
        input.Make(sessions.at(0));
        input.SetSequence(7);
        std::int64_t now = 1000 * Ms;
        for (auto _ : state) server.HandleDatagram(input.bytes.data(), InputSize, addresses[0], now += Ms);
    }
    state.SetItemsProcessed(state.iterations());
    SimulatedBus::Reset();
}
BENCHMARK(DuplicateInput);

// The Wi-Fi figures' part of an accepted Input: one arrival counted, a phone at 100 Hz with every
// tenth lost, so that the windows are full and each arrival pushes one out.
void WifiArrival(benchmark::State& state) {
    const auto stats = std::make_unique<LinkStats>();
    std::uint16_t sequence = 0;
    std::int64_t now = 0;
    for (auto _ : state) {
        sequence = static_cast<std::uint16_t>(sequence + (sequence % 10 == 9 ? 2 : 1));
        stats->Arrived(sequence, now += 10 * Ms);
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(stats->Figures(now));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(WifiArrival);

// The simulated bus's part of an accepted Input: one report submitted through the bus client.
void SimulatedSubmitReport(benchmark::State& state) {
    SimulatedBus::Reset();
    {
        BusConnection bus;
        const std::unique_ptr<PadTarget> target = AllocTarget();
        if (!target || bus.Open() != ResultOk || bus.PlugTarget(*target) != ResultOk) {
            state.SkipWithError("no simulated pad");
            return;
        }
        ControllerReport report;
        for (auto _ : state) {
            ++report.leftStickX;
            benchmark::DoNotOptimize(bus.SubmitReport(*target, report));
        }
        (void)bus.UnplugTarget(*target);
    }
    state.SetItemsProcessed(state.iterations());
    SimulatedBus::Reset();
}
BENCHMARK(SimulatedSubmitReport);

} // namespace
} // namespace Velotrix

BENCHMARK_MAIN();
