#include "Phone.h"

#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <cmath>

namespace Velotrix {

namespace {

constexpr std::uint64_t FnvPrime = 0x100000001b3ULL;

std::uint64_t Fnv1a(std::string_view text, std::uint64_t hash) {
    for (char c : text) {
        hash ^= static_cast<std::uint8_t>(c);
        hash *= FnvPrime;
    }
    return hash;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Spaces may group the digits ("56 4c 54 58"); an odd digit count is refused rather than guessed.
bool ParseHexBytes(std::string_view text, std::vector<std::uint8_t>& out) {
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (char c : text) {
        if (c == ' ') continue;
        const int digit = HexDigit(c);
        if (digit < 0) return false;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0) return false;
    out = std::move(bytes);
    return true;
}

constexpr double MaxSeconds = 86400;
constexpr std::uint64_t MaxMilliseconds = 3'600'000;
constexpr std::size_t MaxUdpPayload = 65507;

bool Seconds(std::string_view text, std::int64_t& outNs) {
    double seconds = 0;
    if (!CommandLine::Decimal(text, 0, MaxSeconds, seconds)) return false;
    outNs = std::llround(seconds * 1e9);
    return true;
}

bool Milliseconds(std::string_view text, std::int64_t& outNs) {
    std::uint64_t milliseconds = 0;
    if (!CommandLine::Unsigned(text, 0, MaxMilliseconds, milliseconds)) return false;
    outNs = static_cast<std::int64_t>(milliseconds) * 1'000'000;
    return true;
}

bool Pattern(std::string_view text, InputPattern& out) {
    if (text == "sweep")
        out = InputPattern::Sweep;
    else if (text == "still")
        out = InputPattern::Still;
    else if (text == "buttons")
        out = InputPattern::Buttons;
    else
        return false;
    return true;
}

// The options, for parsing and for --help alike; each stores what it reads in `out`.
void Describe(CLI::App& app, PhoneOptions& out) {
    using namespace CommandLine;
    const PhoneOptions defaults;
    const auto seconds = [](std::int64_t& targetNs) {
        return [&targetNs](std::string_view text) { return Seconds(text, targetNs); };
    };
    const auto milliseconds = [](std::int64_t& targetNs) {
        return [&targetNs](std::string_view text) { return Milliseconds(text, targetNs); };
    };
    app.name("velotrix-phone");
    app.description("Acts as one phone: says Hello, streams Input, says Bye, and prints every datagram it receives.");
    app.footer("Exit status: 0 done, 1 no socket, 2 bad arguments or unknown host, 3 --wait-active timed out.");
    app.set_help_flag("-h,--help", "this text");
    Value(app, "--host", "H", "server address or name (default " + defaults.host + "; ::1 works)", "a host",
          Text(out.host, false));
    Value(app, "--port", "N", "server port (default " + std::to_string(defaults.port) + ")",
          "a port number (1 to 65535)", Number(out.port, 1, 65535));
    Value(app, "--name", "NAME", "the phone's name (default " + defaults.name + ")", "a name", Text(out.name, true));
    const CLI::Option* id =
        Value(app, "--id", "HEX32", "the phone's id (default: derived from the name)", "32 hexadecimal digits",
              [&out](std::string_view text) { return ParsePhoneIdText(text, out.id); });
    Value(app, "--version", "V", "protocol version to send (default " + std::to_string(defaults.version) + ")",
          "a version (0 to 255)", Number(out.version, 0, 255));
    Value(app, "--rate", "HZ", "Input datagrams per second (default 60)", "a rate (above 0, at most 10000 Hz)",
          [&out](std::string_view text) {
              double rate = 0;
              if (!Decimal(text, 0, 10000, rate) || rate <= 0) return false;
              out.rate = rate;
              return true;
          });
    Value(app, "--duration", "SECONDS", "how long to stream Input (default 5; 0: Hello only)",
          "a number of seconds (0 to 86400)", seconds(out.durationNs));
    Value(app, "--pattern", "P", "sweep (steering and pedals), still, or buttons (default sweep)",
          "a pattern (sweep, still or buttons)", [&out](std::string_view text) { return Pattern(text, out.pattern); });
    Value(app, "--hello-interval", "MS", "repeat Hello while not Active (default 1000; 0: once)",
          "milliseconds (0 to 3600000)", milliseconds(out.helloIntervalNs));
    Value(app, "--wait-active", "SECONDS", "repeat Hello until Active before streaming; exit 3 if it never is",
          "a number of seconds (0 to 86400)", [&out](std::string_view text) {
              if (!Seconds(text, out.waitActiveNs)) return false;
              out.waitActive = true;
              return true;
          });
    Value(app, "--sequence-start", "N", "first Input sequence number (default 1)", "a sequence number (0 to 65535)",
          Number(out.sequenceStart, 0, 65535));
    Value(app, "--loss", "PERCENT", "bad Wi-Fi: lose this share of the inputs, spread evenly (10: every tenth)",
          "a share (0 to 100)", [&out](std::string_view text) { return Decimal(text, 0, 100, out.wifi.lossPercent); });
    Value(app, "--jitter", "MS", "bad Wi-Fi: hold each input back a random time up to MS, in order",
          "milliseconds (0 to 3600000)", milliseconds(out.wifi.jitterNs));
    Value(app, "--burst", "MS", "bad Wi-Fi: hold the inputs back and send them together every MS",
          "milliseconds (0 to 3600000)", milliseconds(out.wifi.burstNs));
    Value(app, "--stall", "MS", "bad Wi-Fi: send nothing for MS every --stall-every seconds",
          "milliseconds (0 to 3600000)", milliseconds(out.wifi.stallNs));
    Value(app, "--stall-every", "SECONDS", "how often --stall comes, the first after one period (default 5)",
          "a number of seconds (above 0, at most 86400)",
          [&out](std::string_view text) { return Seconds(text, out.wifi.stallEveryNs) && out.wifi.stallEveryNs > 0; });
    Flag(app, "--bye,!--no-bye", out.bye, "say Bye at the end (default on)");
    Value(app, "--listen", "MS", "keep listening after the last send (default 300)", "milliseconds (0 to 3600000)",
          milliseconds(out.listenNs));
    Value(app, "--raw", "HEX", "send exactly these bytes once, print the answers, and stop",
          "pairs of hexadecimal digits (at most 65507 bytes)", [&out](std::string_view text) {
              std::vector<std::uint8_t> bytes;
              if (!ParseHexBytes(text, bytes) || bytes.size() > MaxUdpPayload) return false;
              out.rawBytes = std::move(bytes);
              out.raw = true;
              return true;
          });
    Flag(
        app, "--json", [&out] { out.form = OutputForm::Json; }, "print JSON lines instead of text");
    Flag(app, "--verbose", out.verbose, "also print every Input sent");
    Flag(app, "--quiet", out.quiet, "print only the closing summary");
    // Without --id the id follows the name, wherever --name stands.
    app.final_callback([&out, id] {
        if (id->count() == 0) out.id = DefaultPhoneId(out.name);
    });
}

} // namespace

PhoneId DefaultPhoneId(std::string_view name) {
    const std::uint64_t first = Fnv1a(name, 0xcbf29ce484222325ULL);
    const std::uint64_t second = Fnv1a("velotrix-phone", first);
    PhoneId id;
    for (std::size_t i = 0; i < 8; ++i) {
        id.bytes[i] = static_cast<std::uint8_t>(first >> (8 * i));
        id.bytes[8 + i] = static_cast<std::uint8_t>(second >> (8 * i));
    }
    return id;
}

ParseResult ParsePhoneOptions(const std::vector<std::string>& arguments, PhoneOptions& out, std::string& message) {
    return CommandLine::Parse([&out](CLI::App& app) { Describe(app, out); }, arguments, message);
}

std::string PhoneUsage() {
    PhoneOptions unused;
    return CommandLine::Help([&unused](CLI::App& app) { Describe(app, unused); });
}

} // namespace Velotrix
