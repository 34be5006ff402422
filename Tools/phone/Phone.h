#pragma once

// velotrix-phone: a phone simulator for trying a server from a shell and for end-to-end tests. The
// parts that need no socket live here so that the native tests can reach them: the command line, the
// input patterns and the lines printed for every datagram.

#include "CommandLine.h"
#include "Common/DefaultPort.h"
#include "Server/Protocol.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace Velotrix {

enum class InputPattern { Sweep, Still, Buttons };
enum class OutputForm { Text, Json };

// A bad Wi-Fi between the phone and the server, for the people who build the phone app and for the
// tests: what a crowded band, a router or phone in power-save and a dimming screen do to the stream.
// Times count from the start of the stream.
struct WifiPlay {
    double lossPercent = 0;    // this share of the inputs never arrives, spread evenly (10: every tenth)
    std::int64_t jitterNs = 0; // each input is held back a random time up to this, none overtaking another
    std::int64_t burstNs = 0;  // inputs are held back and sent together every this often
    std::int64_t stallNs = 0;  // the phone sends nothing for this long...
    std::int64_t stallEveryNs = 5'000'000'000; // ...every this often, the first after one period
};

struct PhoneOptions {
    std::string host = "127.0.0.1";
    std::uint16_t port = DefaultPort;
    std::string name = "velotrix-phone";
    PhoneId id;
    std::uint8_t version = ProtocolVersion;
    double rate = 60;
    std::int64_t durationNs = 5'000'000'000;
    InputPattern pattern = InputPattern::Sweep;
    std::int64_t helloIntervalNs = 1'000'000'000; // 0: one Hello only
    bool bye = true;
    OutputForm form = OutputForm::Text;
    bool quiet = false;
    bool verbose = false;
    bool waitActive = false;
    std::int64_t waitActiveNs = 0;
    std::uint16_t sequenceStart = 1;
    bool raw = false;
    std::vector<std::uint8_t> rawBytes;
    std::int64_t listenNs = 300'000'000;
    WifiPlay wifi;
};

using ParseResult = CommandLine::Outcome;

// Reads the arguments after the program's name. On Error, `message` says what was wrong and `out` may
// be partly filled. Without --id the id is DefaultPhoneId(name), whatever the order of the options.
[[nodiscard]] ParseResult ParsePhoneOptions(const std::vector<std::string>& arguments, PhoneOptions& out,
                                            std::string& message);
std::string PhoneUsage();

// A fixed id per name, so that the same name is the same phone across runs.
PhoneId DefaultPhoneId(std::string_view name);

// The controls of an Input (sticks, pedals, buttons; not the header, session or echo) at `elapsedNs`
// after streaming began. Every pattern repeats after PatternPeriodNs. Sweep: the steering goes from
// centre to full right, holds it, comes back, and does the same to the left, with the gas pressed as
// far as the wheel is turned right and the brake as far as it is turned left. Buttons: each of the 16
// bits alone for 250 ms. Still: everything centred and released.
constexpr std::int64_t PatternPeriodNs = 4'000'000'000;
InputDatagram PatternControls(InputPattern pattern, std::int64_t elapsedNs);

// What the bad Wi-Fi does to each input; the same for the same seed, so that a run can be repeated.
class WifiPlayer {
public:
    WifiPlayer(const WifiPlay& play, std::uint64_t seed) : play(play), random(seed) {}
    // Whether the phone makes no input at `elapsedNs`, as when its screen dims: none is sent, and no
    // sequence number is used.
    bool Stalled(std::int64_t elapsedNs) const;
    // The next input, made at `elapsedNs`: false when it is lost; else true, with the time it reaches
    // the network in `deliverNs` (not before it was made, nor before the input made before it).
    [[nodiscard]] bool Deliver(std::int64_t elapsedNs, std::int64_t& deliverNs);

private:
    std::uint64_t Next();
    WifiPlay play;
    std::uint64_t random;
    std::uint64_t made = 0;
    std::int64_t lastDelivery = 0;
};

enum class ReceivedKind { Status, Feedback, UnknownSession, Other };
ReceivedKind ClassifyReceived(const std::uint8_t* data, int length);

// One line (without newline) per datagram. `length` is the datagram's real length, which may exceed
// `available`, the bytes actually in `data` (a datagram longer than the receive buffer is cut).
// `t` is SteadyNow() at receipt; only the JSON form shows it.
std::string FormatReceived(const std::uint8_t* data, int available, int length, std::int64_t t, OutputForm form);

std::string FormatSentHello(std::uint16_t sequence, std::uint8_t version, const PhoneId& id, std::string_view name,
                            int bytes, std::int64_t t, OutputForm form);
std::string FormatSentBye(std::uint16_t sequence, std::uint32_t sessionId, int bytes, std::int64_t t, OutputForm form);
std::string FormatSentInput(const InputDatagram& input, std::int64_t t, OutputForm form);
std::string FormatSentRaw(const std::vector<std::uint8_t>& bytes, std::int64_t t, OutputForm form);

struct PhoneSummary {
    std::uint64_t sentInputs = 0; // every input made, the lost ones too
    std::uint64_t lostInputs = 0; // of those, the ones the bad Wi-Fi lost
    std::uint64_t sentHellos = 0;
    std::uint64_t status = 0;
    std::uint64_t feedback = 0;
    std::uint64_t unknownSession = 0;
    std::uint64_t other = 0;
    bool haveState = false;
    std::uint8_t lastState = 0;
};
std::string FormatSummary(const PhoneSummary& summary, OutputForm form);

// The command line as UTF-8 (Windows hands main() the ANSI code page), with standard output made
// ready for UTF-8 lines ending in a bare newline. Implemented per OS.
std::vector<std::string> PrepareConsole(int argc, char** argv);

} // namespace Velotrix
