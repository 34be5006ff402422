// The server under its real load, over loopback, on the simulated bus:
//
//   velotrix_load latency [SECONDS]   four phones stream Input at 250 Hz each to a started server; for
//                                     every report, the time from the phone's send to the report
//                                     reaching the bus (p50, p99, p99.9, max)
//   velotrix_load idle [SECONDS]      a started server without phones, first as started and then after
//                                     a phone came and said Bye: the CPU time the process spends per
//                                     second of wall time, as a share of one core, and how often its
//                                     threads woke (context switches of every thread but the measuring
//                                     one, from /proc/self/task/*/status)
//
// Each report carries its phone and sequence number in its sticks (which the mapping passes through
// unchanged), so the bus observer finds the send time the phone noted just before sendto.

#include "Platform/Os.h"
#include "SimulatedBus/SimulatedBus.h"
#include "Platform/UdpSocket.h"
#include "Server/Server.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace Velotrix {
namespace {

constexpr int Phones = 4;
constexpr std::int64_t Ms = 1'000'000;
constexpr std::int64_t Second = 1'000'000'000;
constexpr std::int64_t Period = 4 * Ms; // 250 Hz
constexpr std::int64_t Warmup = 1 * Second;

// What the bus observer, on the receive thread, needs. Everything is made before the server starts;
// the observer only reads send times and appends to reserved space.
struct Recorder {
    std::array<std::array<std::atomic<std::int64_t>, 65536>, Phones> sentAt{};
    std::atomic<std::int64_t> recordFrom{0}; // inputs sent earlier are warm-up
    std::vector<std::int64_t> latencies;     // written by the receive thread alone, read after Stop
    std::uint64_t unmatched = 0;
};

void OnBusEvent(const SimulatedBus::BusEvent& event, void* context) {
    if (event.kind != SimulatedBus::BusEventKind::Report) return;
    auto& recorder = *static_cast<Recorder*>(context);
    const int phone = event.report.rightStickX - 1;
    // Idle centring sends all zeros; those are not a phone's input.
    if (phone < 0 || phone >= Phones) return;
    const auto sequence = static_cast<std::uint16_t>(event.report.leftStickY);
    const std::int64_t sent =
        recorder.sentAt[static_cast<std::size_t>(phone)][sequence].load(std::memory_order_relaxed);
    if (sent != 0 && sent < recorder.recordFrom.load(std::memory_order_relaxed)) return;
    if (sent == 0 || recorder.latencies.size() == recorder.latencies.capacity()) {
        ++recorder.unmatched;
        return;
    }
    recorder.latencies.push_back(event.time - sent);
}

bool AdmitPhone(UdpSocket& socket, int index, std::uint16_t port, std::uint32_t& session) {
    if (socket.OpenClient(false) != SocketResult::Ok) return false;
    PhoneId id;
    id.bytes[0] = static_cast<std::uint8_t>(index + 1);
    std::array<std::uint8_t, HelloMinimum + MaxNameLength> hello{};
    const int length = BuildHello(hello, ProtocolVersion, 0, id, "Load phone " + std::to_string(index + 1));
    const SocketAddress server = LoopbackAddress(false, port);
    std::array<std::uint8_t, MaxDatagram> reply{};
    for (int attempt = 0; attempt < 100; ++attempt) {
        socket.SendTo(hello.data(), length, server);
        SocketAddress from;
        const int received = socket.Receive(reply.data(), static_cast<int>(reply.size()), from);
        StatusDatagram status;
        if (received > 0 && ReadStatus({reply.data(), static_cast<std::size_t>(received)}, status) &&
            status.state == static_cast<std::uint8_t>(PhoneState::Active)) {
            session = status.sessionId;
            return true;
        }
    }
    return false;
}

void SleepUntil(std::int64_t deadline) {
    const std::int64_t left = deadline - SteadyNow();
    if (left > 0) std::this_thread::sleep_for(std::chrono::nanoseconds(left));
}

double Microseconds(std::int64_t nanoseconds) { return static_cast<double>(nanoseconds) / 1000.0; }

int RunLatency(double seconds) {
    SimulatedBus::Reset();
    auto recorder = std::make_unique<Recorder>();
    const std::int64_t measured = static_cast<std::int64_t>(seconds * Second);
    recorder->latencies.reserve(static_cast<std::size_t>(Phones * (measured / Period + 100)));
    SimulatedBus::SetObserver(&OnBusEvent, recorder.get());

    Server server;
    server.SetAskFirst(false);
    std::string error;
    if (!server.Start(0, error)) {
        std::fprintf(stderr, "latency: %s\n", error.c_str());
        return 1;
    }
    std::array<UdpSocket, Phones> sockets;
    std::array<std::uint32_t, Phones> sessions{};
    for (int phone = 0; phone < Phones; ++phone) {
        if (!AdmitPhone(sockets[static_cast<std::size_t>(phone)], phone, server.Port(),
                        sessions[static_cast<std::size_t>(phone)])) {
            std::fprintf(stderr, "latency: phone %d was not admitted\n", phone + 1);
            return 1;
        }
    }

    const std::int64_t start = SteadyNow() + 10 * Ms;
    const std::int64_t recordFrom = start + Warmup;
    recorder->recordFrom.store(recordFrom);
    const std::int64_t end = recordFrom + measured;
    std::array<std::uint64_t, Phones> sentWhileRecording{};
    std::vector<std::thread> threads;
    for (int phone = 0; phone < Phones; ++phone) {
        threads.emplace_back([&, phone] {
            const auto index = static_cast<std::size_t>(phone);
            const SocketAddress to = LoopbackAddress(false, server.Port());
            InputDatagram input;
            input.state.sessionId = sessions[index];
            input.state.rightX = static_cast<std::int16_t>(phone + 1);
            std::array<std::uint8_t, InputSize> bytes{};
            // The phones are spread over the period, as independent phones would be.
            for (std::int64_t next = start + phone * Period / Phones; next < end; next += Period) {
                SleepUntil(next);
                ++input.sequence;
                input.state.leftY = static_cast<std::int16_t>(input.sequence);
                input.state.echo = input.sequence;
                BuildInput(bytes, ProtocolVersion, input);
                const std::int64_t now = SteadyNow();
                recorder->sentAt[index][input.sequence].store(now, std::memory_order_relaxed);
                if (now >= recordFrom) ++sentWhileRecording[index];
                sockets[index].SendTo(bytes.data(), InputSize, to);
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    // The last datagrams are still on their way; a tenth of a second is ample.
    SleepUntil(SteadyNow() + 100 * Ms);
    server.Stop();
    SimulatedBus::SetObserver(nullptr, nullptr);

    std::vector<std::int64_t>& latencies = recorder->latencies;
    std::uint64_t sent = 0;
    for (const std::uint64_t count : sentWhileRecording) sent += count;
    if (latencies.empty()) {
        std::fprintf(stderr, "latency: no report reached the bus\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    const auto at = [&](double share) {
        const auto index = static_cast<std::size_t>(share * static_cast<double>(latencies.size() - 1));
        return Microseconds(latencies[index]);
    };
    std::printf("latency: %d phones at %lld Hz for %.1f s: %zu reports of %llu inputs sent (%llu unmatched)\n", Phones,
                static_cast<long long>(Second / Period), seconds, latencies.size(),
                static_cast<unsigned long long>(sent), static_cast<unsigned long long>(recorder->unmatched));
    std::printf("latency: send to bus  p50 %.1f us  p99 %.1f us  p99.9 %.1f us  max %.1f us\n", at(0.50), at(0.99),
                at(0.999), Microseconds(latencies.back()));
    return 0;
}

std::int64_t CpuNanoseconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ns = [](const timeval& time) {
        return static_cast<std::int64_t>(time.tv_sec) * Second + static_cast<std::int64_t>(time.tv_usec) * 1000;
    };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

// Context switches, voluntary and not, of every thread of this process but the calling one: each is a
// wake-up of a thread that had been waiting (or was preempted). A thread that ended meanwhile is not
// counted; the server's threads live for the whole run.
std::uint64_t OtherThreadsSwitches() {
    const long self = syscall(SYS_gettid);
    std::uint64_t total = 0;
    DIR* tasks = opendir("/proc/self/task");
    if (tasks == nullptr) return 0;
    while (const dirent* entry = readdir(tasks)) {
        if (entry->d_name[0] == '.' || std::atol(entry->d_name) == self) continue;
        std::ifstream status(std::string("/proc/self/task/") + entry->d_name + "/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0 || line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
                total += std::strtoull(line.substr(line.find(':') + 1).c_str(), nullptr, 10);
        }
    }
    closedir(tasks);
    return total;
}

void MeasureIdle(const char* label, double seconds) {
    SleepUntil(SteadyNow() + 500 * Ms);
    const std::int64_t cpuBefore = CpuNanoseconds();
    const std::uint64_t switchesBefore = OtherThreadsSwitches();
    const std::int64_t wallBefore = SteadyNow();
    SleepUntil(wallBefore + static_cast<std::int64_t>(seconds * Second));
    const std::int64_t cpu = CpuNanoseconds() - cpuBefore;
    const std::uint64_t switches = OtherThreadsSwitches() - switchesBefore;
    const std::int64_t wall = SteadyNow() - wallBefore;
    const double wallSeconds = static_cast<double>(wall) / Second;
    std::printf("idle: %s for %.1f s: %.3f ms of CPU time, %.3f %% of one core, %.1f wake-ups a second\n", label,
                wallSeconds, static_cast<double>(cpu) / Ms,
                100.0 * static_cast<double>(cpu) / static_cast<double>(wall),
                static_cast<double>(switches) / wallSeconds);
}

int RunIdle(double seconds) {
    SimulatedBus::Reset();
    Server server;
    server.SetAskFirst(false);
    std::string error;
    if (!server.Start(0, error)) {
        std::fprintf(stderr, "idle: %s\n", error.c_str());
        return 1;
    }
    MeasureIdle("no phone", seconds);
    // A phone with a pad that leaves again: what it set going in the server must end with it.
    UdpSocket phone;
    std::uint32_t session = 0;
    if (!AdmitPhone(phone, 0, server.Port(), session)) {
        std::fprintf(stderr, "idle: the phone was not admitted\n");
        return 1;
    }
    std::array<std::uint8_t, ByeSize> bye{};
    BuildBye(bye, ProtocolVersion, 1, session);
    phone.SendTo(bye.data(), ByeSize, LoopbackAddress(false, server.Port()));
    MeasureIdle("no phone after a Bye", seconds);
    server.Stop();
    return 0;
}

} // namespace
} // namespace Velotrix

int main(int argc, char** argv) {
    const std::string mode = argc > 1 ? argv[1] : "";
    const double seconds = argc > 2 ? std::atof(argv[2]) : 0.0;
    if (mode == "latency") return Velotrix::RunLatency(seconds > 0 ? seconds : 10.0);
    if (mode == "idle") return Velotrix::RunIdle(seconds > 0 ? seconds : 5.0);
    std::fprintf(stderr, "usage: velotrix_load latency|idle [SECONDS]\n");
    return 2;
}
