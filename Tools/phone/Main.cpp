#include "Phone.h"
#include "Platform/Os.h"
#include "Platform/UdpSocket.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>

namespace Velotrix {

namespace {

volatile std::sig_atomic_t interrupted = 0;

void OnInterrupt(int) { interrupted = 1; }

// sockaddr_in takes 16 bytes and sockaddr_in6 28 with both Winsock and glibc; the family's value
// itself differs between them and stays inside UdpSocket.
bool IsIpv6(const SocketAddress& address) { return address.length > 16; }

// The bad Wi-Fi's delays follow the phone's id, so that one phone's run can be played again.
std::uint64_t SeedOf(const PhoneId& id) {
    std::uint64_t seed = 0;
    for (std::size_t i = 0; i < 8; ++i) seed |= static_cast<std::uint64_t>(id.bytes[i]) << (8 * i);
    return seed;
}

// Two threads: this one sends at the rate, waking on a condition variable whose timed wait is
// precise, and a receiver that blocks in the socket. A socket receive time-out alone cannot pace the
// Input stream: Linux rounds it up to scheduler ticks (a 1 ms time-out waits about 8 ms here).
class PhoneRun {
public:
    explicit PhoneRun(const PhoneOptions& options)
        : options(options), inputSequence(options.sequenceStart),
          inputPeriodNs(std::max<std::int64_t>(1, static_cast<std::int64_t>(1e9 / options.rate))),
          wifi(options.wifi, SeedOf(options.id)) {}

    int Run() {
        if (!ResolveAddress(options.host, options.port, false, server)) {
            std::fprintf(stderr, "velotrix-phone: cannot resolve host \"%s\"\n", options.host.c_str());
            return 2;
        }
        if (socket.OpenClient(IsIpv6(server)) != SocketResult::Ok) {
            std::fprintf(stderr, "velotrix-phone: cannot open a UDP socket\n");
            return 1;
        }
        std::signal(SIGINT, OnInterrupt);
        std::thread receiver([this] { ReceiveLoop(); });
        int status = 0;
        {
            std::unique_lock lock(mutex);
            status = options.raw ? SendRaw() : Converse(lock);
            const std::int64_t listenEnd = SteadyNow() + options.listenNs;
            while (SteadyNow() < listenEnd && !interrupted) WaitUntil(lock, listenEnd);
        }
        stopReceiving = true;
        receiver.join();
        std::printf("%s\n", FormatSummary(summary, options.form).c_str());
        std::fflush(stdout);
        return status;
    }

private:
    using Lock = std::unique_lock<std::mutex>;

    int SendRaw() {
        const auto& bytes = options.rawBytes;
        const std::int64_t t = SteadyNow();
        socket.SendTo(bytes.data(), static_cast<int>(bytes.size()), server);
        Print(FormatSentRaw(bytes, t, options.form));
        return 0;
    }

    int Converse(Lock& lock) {
        SendHello(SteadyNow());
        bool timedOut = false;
        if (options.waitActive) {
            const std::int64_t deadline = SteadyNow() + options.waitActiveNs;
            while (!active && !interrupted) {
                const std::int64_t now = SteadyNow();
                if (now >= deadline) {
                    timedOut = true;
                    break;
                }
                if (now >= NextHello()) SendHello(now);
                WaitUntil(lock, std::min(deadline, NextHello()));
            }
        }
        if (!timedOut) Stream(lock);
        if (options.bye && haveSession) SendBye();
        return timedOut ? 3 : 0;
    }

    // Inputs go through the bad Wi-Fi (none unless asked for): each is held until it is due, and what
    // it still holds at the end goes out in its time after the last one was made.
    void Stream(Lock& lock) {
        const std::int64_t start = SteadyNow();
        const std::int64_t end = start + options.durationNs;
        std::int64_t nextInput = start;
        while (!interrupted) {
            const std::int64_t now = SteadyNow();
            SendHeld(now);
            const bool streaming = now < end;
            if (!streaming && held.empty()) break;
            std::int64_t wake = held.empty() ? INT64_MAX : held.front().due;
            if (!streaming) {
                WaitUntil(lock, wake);
                continue;
            }
            if (now >= NextHello()) SendHello(now);
            if (now >= nextInput) {
                // Nothing to address an Input to before a Status gave a session number.
                if (haveSession && !wifi.Stalled(now - start)) MakeInput(now - start, start);
                nextInput += inputPeriodNs;
                // After a stall, carry on at the rate instead of sending the missed inputs in a burst.
                if (nextInput <= now) nextInput = now + inputPeriodNs;
            }
            if (!held.empty()) wake = held.front().due;
            WaitUntil(lock, std::min({wake, end, nextInput, NextHello()}));
        }
    }

    // Returns at `until`, or earlier when a datagram was handled; a Ctrl+C is noticed within 50 ms
    // (a signal handler may not notify a condition variable).
    void WaitUntil(Lock& lock, std::int64_t until) {
        const std::int64_t remaining = until - SteadyNow();
        if (remaining <= 0 || interrupted) return;
        changed.wait_for(lock, std::chrono::nanoseconds(std::min<std::int64_t>(remaining, 50'000'000)));
    }

    std::int64_t NextHello() const { return active || options.helloIntervalNs == 0 ? INT64_MAX : nextHello; }

    void ReceiveLoop() {
        std::uint8_t buffer[2048];
        while (!stopReceiving) {
            SocketAddress from;
            const int length = socket.Receive(buffer, sizeof buffer, from);
            if (length < 0) continue;
            const std::int64_t t = SteadyNow();
            {
                Lock lock(mutex);
                Handle(buffer, std::min<int>(length, sizeof buffer), length, t);
            }
            changed.notify_all();
        }
    }

    void Handle(const std::uint8_t* data, int available, int length, std::int64_t t) {
        switch (ClassifyReceived(data, available)) {
        case ReceivedKind::Status: {
            ++summary.status;
            StatusDatagram status;
            (void)ReadStatus({data, static_cast<std::size_t>(available)}, status);
            summary.haveState = true;
            summary.lastState = status.state;
            if (status.state != static_cast<std::uint8_t>(PhoneState::OtherVersion)) {
                sessionId = status.sessionId;
                haveSession = true;
                active = status.state == static_cast<std::uint8_t>(PhoneState::Active);
            }
            break;
        }
        case ReceivedKind::Feedback:
            ++summary.feedback;
            break;
        case ReceivedKind::UnknownSession:
            // The server forgot this phone: as a phone app would, ask again at once.
            ++summary.unknownSession;
            haveSession = false;
            active = false;
            nextHello = t;
            break;
        case ReceivedKind::Other:
            ++summary.other;
            break;
        }
        Print(FormatReceived(data, available, length, t, options.form));
    }

    void SendHello(std::int64_t now) {
        std::uint8_t buffer[HelloMinimum + MaxNameLength];
        const std::uint16_t sequence = controlSequence++;
        const int size = BuildHello(buffer, options.version, sequence, options.id, options.name);
        // Sent lines carry the time before the send, so that an answer's time never precedes it.
        const std::int64_t t = SteadyNow();
        socket.SendTo(buffer, size, server);
        ++summary.sentHellos;
        nextHello = now + options.helloIntervalNs;
        Print(FormatSentHello(sequence, options.version, options.id, options.name, size, t, options.form));
    }

    void MakeInput(std::int64_t elapsed, std::int64_t start) {
        InputDatagram input = PatternControls(options.pattern, elapsed);
        input.sequence = inputSequence++;
        input.state.sessionId = sessionId;
        input.state.echo = static_cast<std::uint32_t>(++summary.sentInputs);
        std::int64_t delivered = 0;
        if (!wifi.Deliver(elapsed, delivered)) {
            ++summary.lostInputs;
            return;
        }
        held.push_back({start + delivered, input});
        SendHeld(SteadyNow());
    }

    void SendHeld(std::int64_t now) {
        while (!held.empty() && held.front().due <= now) {
            SendInput(held.front().input);
            held.pop_front();
        }
    }

    void SendInput(const InputDatagram& input) {
        std::uint8_t buffer[InputSize];
        const int size = BuildInput(buffer, options.version, input);
        const std::int64_t t = SteadyNow();
        socket.SendTo(buffer, size, server);
        if (options.verbose) Print(FormatSentInput(input, t, options.form));
    }

    void SendBye() {
        std::uint8_t buffer[ByeSize];
        const std::uint16_t sequence = controlSequence++;
        const int size = BuildBye(buffer, options.version, sequence, sessionId);
        const std::int64_t t = SteadyNow();
        socket.SendTo(buffer, size, server);
        Print(FormatSentBye(sequence, sessionId, size, t, options.form));
    }

    // Called with the mutex held, which keeps lines whole; flushed at once because tests read the
    // output while the phone still runs.
    void Print(const std::string& line) {
        if (options.quiet) return;
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    const PhoneOptions& options;
    UdpSocket socket;
    SocketAddress server;
    std::atomic<bool> stopReceiving{false};
    // Guards everything below, which both threads use.
    std::mutex mutex;
    std::condition_variable changed;
    PhoneSummary summary;
    std::uint16_t inputSequence;
    // Hello and Bye number their own stream, so that Input sequence numbers run without gaps.
    std::uint16_t controlSequence = 1;
    std::int64_t inputPeriodNs;
    WifiPlayer wifi;
    struct Held {
        std::int64_t due;
        InputDatagram input;
    };
    std::deque<Held> held;
    std::int64_t nextHello = 0;
    std::uint32_t sessionId = 0;
    bool haveSession = false;
    bool active = false;
};

} // namespace

} // namespace Velotrix

int main(int argc, char** argv) {
    using namespace Velotrix;
    const std::vector<std::string> arguments = PrepareConsole(argc, argv);
    PhoneOptions options;
    std::string message;
    switch (ParsePhoneOptions(arguments, options, message)) {
    case ParseResult::Help:
        std::fputs(PhoneUsage().c_str(), stdout);
        return 0;
    case ParseResult::Error:
        std::fprintf(stderr, "velotrix-phone: %s (see --help)\n", message.c_str());
        return 2;
    case ParseResult::Run:
        break;
    }
    return PhoneRun(options).Run();
}
