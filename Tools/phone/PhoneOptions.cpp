#include "Phone.h"

#include <charconv>
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

bool ParseInteger(std::string_view text, long long minimum, long long maximum, long long& out) {
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || value < minimum || value > maximum) return false;
    out = value;
    return true;
}

// from_chars also takes "inf" and "nan", which no option here wants.
bool ParseDecimal(std::string_view text, double minimum, double maximum, double& out) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end || !std::isfinite(value) || value < minimum ||
        value > maximum)
        return false;
    out = value;
    return true;
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

} // namespace

PhoneId DefaultPhoneId(std::string_view name) {
    const std::uint64_t first = Fnv1a(name, 0xcbf29ce484222325ULL);
    const std::uint64_t second = Fnv1a("velotrix-phone", first);
    PhoneId id;
    for (int i = 0; i < 8; ++i) {
        id.bytes[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(first >> (8 * i));
        id.bytes[static_cast<std::size_t>(8 + i)] = static_cast<std::uint8_t>(second >> (8 * i));
    }
    return id;
}

ParseResult ParsePhoneOptions(const std::vector<std::string>& arguments, PhoneOptions& out, std::string& message) {
    constexpr double MaxSeconds = 86400;
    constexpr std::size_t MaxUdpPayload = 65507;
    bool idGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string_view key = arguments[i];
        std::string_view value;
        bool hasInlineValue = false;
        if (key.size() > 2 && key.substr(0, 2) == "--") {
            const std::size_t equals = key.find('=');
            if (equals != std::string_view::npos) {
                value = key.substr(equals + 1);
                key = key.substr(0, equals);
                hasInlineValue = true;
            }
        }
        const auto takeValue = [&]() {
            if (hasInlineValue) return true;
            if (i + 1 >= arguments.size()) {
                message = std::string(key) + " needs a value";
                return false;
            }
            value = arguments[++i];
            return true;
        };
        const auto flag = [&](bool& target, bool setting) {
            if (hasInlineValue) {
                message = std::string(key) + " takes no value";
                return false;
            }
            target = setting;
            return true;
        };
        const auto invalid = [&](const char* what) {
            message = std::string(key) + ": \"" + std::string(value) + "\" is not " + what;
            return ParseResult::Error;
        };
        const auto seconds = [&](std::int64_t& target) {
            double parsed = 0;
            if (!ParseDecimal(value, 0, MaxSeconds, parsed)) return false;
            target = std::llround(parsed * 1e9);
            return true;
        };
        const auto milliseconds = [&](std::int64_t& target) {
            long long parsed = 0;
            if (!ParseInteger(value, 0, 3'600'000, parsed)) return false;
            target = parsed * 1'000'000;
            return true;
        };

        long long number = 0;
        bool json = false;
        if (key == "--help" || key == "-h") {
            return ParseResult::Help;
        } else if (key == "--host") {
            if (!takeValue()) return ParseResult::Error;
            if (value.empty()) return invalid("a host");
            out.host = value;
        } else if (key == "--port") {
            if (!takeValue()) return ParseResult::Error;
            if (!ParseInteger(value, 1, 65535, number)) return invalid("a port number (1 to 65535)");
            out.port = static_cast<std::uint16_t>(number);
        } else if (key == "--name") {
            if (!takeValue()) return ParseResult::Error;
            out.name = value;
        } else if (key == "--id") {
            if (!takeValue()) return ParseResult::Error;
            if (!ParsePhoneIdText(value, out.id)) return invalid("32 hexadecimal digits");
            idGiven = true;
        } else if (key == "--version") {
            if (!takeValue()) return ParseResult::Error;
            if (!ParseInteger(value, 0, 255, number)) return invalid("a version (0 to 255)");
            out.version = static_cast<std::uint8_t>(number);
        } else if (key == "--rate") {
            if (!takeValue()) return ParseResult::Error;
            if (!ParseDecimal(value, 0, 10000, out.rate) || out.rate <= 0)
                return invalid("a rate (above 0, at most 10000 Hz)");
        } else if (key == "--duration") {
            if (!takeValue()) return ParseResult::Error;
            if (!seconds(out.durationNs)) return invalid("a number of seconds (0 to 86400)");
        } else if (key == "--pattern") {
            if (!takeValue()) return ParseResult::Error;
            if (value == "sweep")
                out.pattern = InputPattern::Sweep;
            else if (value == "still")
                out.pattern = InputPattern::Still;
            else if (value == "buttons")
                out.pattern = InputPattern::Buttons;
            else
                return invalid("a pattern (sweep, still or buttons)");
        } else if (key == "--hello-interval") {
            if (!takeValue()) return ParseResult::Error;
            if (!milliseconds(out.helloIntervalNs)) return invalid("milliseconds (0 to 3600000)");
        } else if (key == "--bye") {
            if (!flag(out.bye, true)) return ParseResult::Error;
        } else if (key == "--no-bye") {
            if (!flag(out.bye, false)) return ParseResult::Error;
        } else if (key == "--json") {
            if (!flag(json, true)) return ParseResult::Error;
            out.form = OutputForm::Json;
        } else if (key == "--quiet") {
            if (!flag(out.quiet, true)) return ParseResult::Error;
        } else if (key == "--verbose") {
            if (!flag(out.verbose, true)) return ParseResult::Error;
        } else if (key == "--wait-active") {
            if (!takeValue()) return ParseResult::Error;
            if (!seconds(out.waitActiveNs)) return invalid("a number of seconds (0 to 86400)");
            out.waitActive = true;
        } else if (key == "--sequence-start") {
            if (!takeValue()) return ParseResult::Error;
            if (!ParseInteger(value, 0, 65535, number)) return invalid("a sequence number (0 to 65535)");
            out.sequenceStart = static_cast<std::uint16_t>(number);
        } else if (key == "--raw") {
            if (!takeValue()) return ParseResult::Error;
            if (!ParseHexBytes(value, out.rawBytes)) return invalid("pairs of hexadecimal digits");
            if (out.rawBytes.size() > MaxUdpPayload) return invalid("a datagram of at most 65507 bytes");
            out.raw = true;
        } else if (key == "--listen") {
            if (!takeValue()) return ParseResult::Error;
            if (!milliseconds(out.listenNs)) return invalid("milliseconds (0 to 3600000)");
        } else if (key.substr(0, 1) == "-") {
            message = "unknown option " + std::string(key);
            return ParseResult::Error;
        } else {
            message = "unexpected argument \"" + std::string(key) + "\"";
            return ParseResult::Error;
        }
    }
    if (!idGiven) out.id = DefaultPhoneId(out.name);
    return ParseResult::Run;
}

std::string PhoneUsage() {
    return "Usage: velotrix-phone [options]\n"
           "Acts as one phone: says Hello, streams Input, says Bye, and prints every datagram it receives.\n"
           "\n"
           "  --host H              server address or name (default 127.0.0.1; ::1 works)\n"
           "  --port N              server port (default 47821)\n"
           "  --name NAME           the phone's name (default velotrix-phone)\n"
           "  --id HEX32            the phone's id (default: derived from the name)\n"
           "  --version V           protocol version to send (default 1)\n"
           "  --rate HZ             Input datagrams per second (default 60)\n"
           "  --duration SECONDS    how long to stream Input (default 5; 0: Hello only)\n"
           "  --pattern P           sweep (steering and pedals), still, or buttons (default sweep)\n"
           "  --hello-interval MS   repeat Hello while not Active (default 1000; 0: once)\n"
           "  --wait-active SECONDS repeat Hello until Active before streaming; exit 3 if it never is\n"
           "  --sequence-start N    first Input sequence number (default 1)\n"
           "  --bye / --no-bye      say Bye at the end (default on)\n"
           "  --listen MS           keep listening after the last send (default 300)\n"
           "  --raw HEX             send exactly these bytes once, print the answers, and stop\n"
           "  --json                print JSON lines instead of text\n"
           "  --verbose             also print every Input sent\n"
           "  --quiet               print only the closing summary\n"
           "  --help                this text\n"
           "\n"
           "Exit status: 0 done, 1 no socket, 2 bad arguments or unknown host, 3 --wait-active timed out.\n";
}

} // namespace Velotrix
