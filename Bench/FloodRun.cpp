// One phone playing at 250 Hz while a second socket floods the server, over loopback, on the
// simulated bus. `velotrix_flood [SECONDS]` runs, each for SECONDS (default 10):
//
//   floor  a plain socket sending to a plain blocking receiver, no server: the loopback's own latency
//   none   the player alone
//   a      Hellos with random ids, as fast as one socket sends
//   b      Inputs for random session numbers
//   c      random bytes
//   d      Hello/Bye cycles with new ids while "ask first" is off
//
// and prints, per run: the player's lost inputs, its longest gap between reports, its p50/p99 from
// send to report (also as a ratio to the floor), the server's CPU time (the process's minus the
// player's and the flooder's own threads), its memory growth (VmRSS), log lines and pads plugged.

#include "Platform/Os.h"
#include "SimulatedBus/SimulatedBus.h"
#include "Platform/UdpSocket.h"
#include "Server/Server.h"
#include "Shell/Log.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Velotrix {
namespace {

constexpr std::int64_t Ms = 1'000'000;
constexpr std::int64_t Second = 1'000'000'000;
constexpr std::int64_t Period = 4 * Ms;

struct Recorder {
    std::array<std::atomic<std::int64_t>, 65536> sentAt{};
    std::vector<std::int64_t> latencies; // receive thread only
    std::vector<std::int64_t> reportTimes;
    std::atomic<int> plugs{0};
};

void OnBusEvent(const SimulatedBus::BusEvent& event, void* context) {
    auto& recorder = *static_cast<Recorder*>(context);
    if (event.kind == SimulatedBus::BusEventKind::Plug) ++recorder.plugs;
    if (event.kind != SimulatedBus::BusEventKind::Report || event.report.rightStickX != 1) return;
    const auto sequence = static_cast<std::uint16_t>(event.report.leftStickY);
    const std::int64_t sent = recorder.sentAt[sequence].load(std::memory_order_relaxed);
    if (sent == 0 || recorder.latencies.size() == recorder.latencies.capacity()) return;
    recorder.latencies.push_back(event.time - sent);
    recorder.reportTimes.push_back(event.time);
}

std::atomic<int> logLines{0};
void CountLine(void*, const char*) { ++logLines; }

std::int64_t ThreadCpu() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<std::int64_t>(t.tv_sec) * Second + t.tv_nsec;
}

std::int64_t ProcessCpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<std::int64_t>(t.tv_sec) * Second + t.tv_nsec;
}

long RssKib() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    return 0;
}

void SleepUntil(std::int64_t deadline) {
    const std::int64_t left = deadline - SteadyNow();
    if (left > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(left));
}

std::uint64_t Next(std::uint64_t& state) {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
}

double Us(std::int64_t ns) { return static_cast<double>(ns) / 1000.0; }

std::int64_t At(std::vector<std::int64_t>& sorted, double share) {
    return sorted.empty() ? 0 : sorted[static_cast<std::size_t>(share * static_cast<double>(sorted.size() - 1))];
}

// The flooder's loop for one kind; answers how many datagrams it sent.
std::uint64_t Flood(char kind, std::uint16_t port, std::int64_t end, std::int64_t& cpu) {
    UdpSocket socket;
    if (socket.OpenClient(false) != SocketResult::Ok) return 0;
    socket.SetReceiveTimeout(1);
    const SocketAddress to = LoopbackAddress(false, port);
    std::uint64_t random = 0x9E3779B97F4A7C15ull, sent = 0;
    std::uint8_t out[MaxDatagram];
    while (SteadyNow() < end) {
        for (int burst = 0; burst < 64; ++burst) {
            PhoneId id;
            for (std::size_t i = 0; i < 16; i += 8) {
                const std::uint64_t r = Next(random);
                std::memcpy(id.bytes.data() + i, &r, 8);
            }
            int length = 0;
            if (kind == 'a' || kind == 'd') {
                length = BuildHello(out, ProtocolVersion, 0, id, "Flood");
            } else if (kind == 'b') {
                InputDatagram input;
                input.sequence = static_cast<std::uint16_t>(sent);
                input.state.sessionId = static_cast<std::uint32_t>(Next(random));
                length = BuildInput(out, ProtocolVersion, input);
            } else {
                length = 1 + static_cast<int>(Next(random) % 64);
                for (int i = 0; i < length; ++i) out[i] = static_cast<std::uint8_t>(Next(random));
            }
            socket.SendTo(out, length, to);
            ++sent;
            if (kind == 'd') {
                // The answer names the session that the Bye then ends.
                std::uint8_t reply[MaxDatagram];
                SocketAddress from;
                const int received = socket.Receive(reply, sizeof reply, from);
                StatusDatagram status;
                if (received > 0 && ReadStatus({reply, static_cast<std::size_t>(received)}, status) &&
                    status.sessionId != 0) {
                    socket.SendTo(out, BuildBye(out, ProtocolVersion, 0, status.sessionId), to);
                    ++sent;
                }
            }
        }
    }
    cpu = ThreadCpu();
    return sent;
}

struct Floor {
    std::int64_t p50 = 0, p99 = 0;
};

Floor RunFloor(double seconds) {
    UdpSocket receiver, sender;
    if (receiver.OpenServer(0) != SocketResult::Ok || sender.OpenClient(false) != SocketResult::Ok) return {};
    const std::int64_t end = SteadyNow() + static_cast<std::int64_t>(seconds * Second);
    std::vector<std::int64_t> latencies;
    latencies.reserve(static_cast<std::size_t>(seconds * 300));
    std::atomic<bool> running{true};
    std::thread thread([&] {
        std::uint8_t buffer[64];
        SocketAddress from;
        while (running.load()) {
            if (receiver.Receive(buffer, sizeof buffer, from) == 8) {
                std::int64_t sent = 0;
                std::memcpy(&sent, buffer, 8);
                if (latencies.size() < latencies.capacity()) latencies.push_back(SteadyNow() - sent);
            }
        }
    });
    const SocketAddress to = LoopbackAddress(false, receiver.LocalPort());
    for (std::int64_t next = SteadyNow(); next < end; next += Period) {
        SleepUntil(next);
        const std::int64_t now = SteadyNow();
        std::uint8_t bytes[8];
        std::memcpy(bytes, &now, 8);
        sender.SendTo(bytes, 8, to);
    }
    SleepUntil(SteadyNow() + 50 * Ms);
    running = false;
    thread.join();
    std::sort(latencies.begin(), latencies.end());
    std::printf("floor: %zu datagrams, plain socket to blocking receiver: p50 %.1f us  p99 %.1f us\n", latencies.size(),
                Us(At(latencies, 0.5)), Us(At(latencies, 0.99)));
    return {At(latencies, 0.5), At(latencies, 0.99)};
}

int RunOne(char kind, double seconds, const Floor& floor) {
    SimulatedBus::Reset();
    auto recorder = std::make_unique<Recorder>();
    recorder->latencies.reserve(static_cast<std::size_t>(seconds * 300));
    recorder->reportTimes.reserve(static_cast<std::size_t>(seconds * 300));
    SimulatedBus::SetObserver(&OnBusEvent, recorder.get());
    auto server = std::make_unique<Server>();
    PhoneId playerId;
    playerId.bytes.fill(0xAB);
    server->SetAskFirst(kind == 'd' ? false : true);
    server->SetAllowed({PhoneIdText(playerId)});
    std::string error;
    if (!server->Start(0, error)) {
        std::fprintf(stderr, "flood: %s\n", error.c_str());
        return 1;
    }
    UdpSocket player;
    std::uint32_t session = 0;
    if (player.OpenClient(false) != SocketResult::Ok) return 1;
    const SocketAddress to = LoopbackAddress(false, server->Port());
    std::uint8_t out[MaxDatagram];
    for (int attempt = 0; attempt < 100 && session == 0; ++attempt) {
        player.SendTo(out, BuildHello(out, ProtocolVersion, 0, playerId, "Player"), to);
        SocketAddress from;
        const int received = player.Receive(out, sizeof out, from);
        StatusDatagram status;
        if (received > 0 && ReadStatus({out, static_cast<std::size_t>(received)}, status) &&
            status.state == static_cast<std::uint8_t>(PhoneState::Active))
            session = status.sessionId;
    }
    if (session == 0) {
        std::fprintf(stderr, "flood: the player was not admitted\n");
        return 1;
    }
    const int plugsBefore = recorder->plugs.load();
    SleepUntil(SteadyNow() + 200 * Ms);
    const long rssBefore = RssKib();
    logLines = 0;
    SetLogSink(&CountLine, nullptr);
    const std::int64_t cpuBefore = ProcessCpu();
    const std::int64_t start = SteadyNow() + 10 * Ms;
    const std::int64_t end = start + static_cast<std::int64_t>(seconds * Second);
    std::int64_t floodCpu = 0, playerCpu = 0;
    std::uint64_t floodSent = 0, playerSent = 0;
    std::thread flooder;
    if (kind != 'n') flooder = std::thread([&] { floodSent = Flood(kind, server->Port(), end, floodCpu); });
    std::thread phone([&] {
        InputDatagram input;
        input.state.sessionId = session;
        input.state.rightX = 1;
        std::uint8_t bytes[InputSize];
        for (std::int64_t next = start; next < end; next += Period) {
            SleepUntil(next);
            ++input.sequence;
            input.state.leftY = static_cast<std::int16_t>(input.sequence);
            BuildInput(bytes, ProtocolVersion, input);
            recorder->sentAt[input.sequence].store(SteadyNow(), std::memory_order_relaxed);
            player.SendTo(bytes, InputSize, to);
            ++playerSent;
        }
        playerCpu = ThreadCpu();
    });
    phone.join();
    if (flooder.joinable()) flooder.join();
    SleepUntil(SteadyNow() + 100 * Ms);
    const std::int64_t serverCpu = ProcessCpu() - cpuBefore - floodCpu - playerCpu;
    const int lines = logLines.load();
    const long rssAfter = RssKib();
    server->Stop();
    SetLogSink(nullptr, nullptr);
    SimulatedBus::SetObserver(nullptr, nullptr);

    std::vector<std::int64_t>& times = recorder->reportTimes;
    std::int64_t longestGap = times.empty() ? 0 : times.front() - start;
    for (std::size_t i = 1; i < times.size(); ++i) longestGap = std::max(longestGap, times[i] - times[i - 1]);
    std::vector<std::int64_t>& latencies = recorder->latencies;
    std::sort(latencies.begin(), latencies.end());
    const double lost =
        playerSent == 0
            ? 100.0
            : 100.0 * static_cast<double>(playerSent - std::min<std::uint64_t>(playerSent, latencies.size())) /
                  static_cast<double>(playerSent);
    const char* names[] = {"none", "a: Hellos with random ids", "b: Inputs for random sessions", "c: random bytes",
                           "d: Hello/Bye cycles, ask first off"};
    const int index = kind == 'n' ? 0 : kind - 'a' + 1;
    std::printf("%s: flood %llu datagrams (%.0f/s); player lost %.2f %% of %llu, longest gap %.1f ms, "
                "p50 %.1f us (%.1fx floor), p99 %.1f us (%.1fx floor); server CPU %.0f ms; memory %+ld KiB; "
                "log lines %d; pads plugged %d\n",
                names[index], static_cast<unsigned long long>(floodSent), static_cast<double>(floodSent) / seconds,
                lost, static_cast<unsigned long long>(playerSent), static_cast<double>(longestGap) / Ms,
                Us(At(latencies, 0.5)),
                floor.p50 > 0 ? static_cast<double>(At(latencies, 0.5)) / static_cast<double>(floor.p50) : 0.0,
                Us(At(latencies, 0.99)),
                floor.p99 > 0 ? static_cast<double>(At(latencies, 0.99)) / static_cast<double>(floor.p99) : 0.0,
                static_cast<double>(serverCpu) / Ms, rssAfter - rssBefore, lines, recorder->plugs.load() - plugsBefore);
    return 0;
}

} // namespace
} // namespace Velotrix

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 10.0;
    const Velotrix::Floor floor = Velotrix::RunFloor(seconds);
    int failed = 0;
    for (char kind : {'n', 'a', 'b', 'c', 'd'}) failed |= Velotrix::RunOne(kind, seconds, floor);
    return failed;
}
