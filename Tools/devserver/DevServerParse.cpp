// The command line and the commands read from standard input.

#include "DevServer.h"

#include <charconv>

namespace Velotrix::DevServer {

namespace {

// Digits only: from_chars alone would take a leading minus for signed types and stop quietly at the
// first foreign character.
bool ParseDecimal(std::string_view text, std::uint64_t maximum, std::uint64_t& out) {
    if (text.empty() || text.size() > 20) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value > maximum) return false;
    out = value;
    return true;
}

constexpr std::uint64_t LongestUserIndexDelay = 3'600'000;

// Splits at spaces and tabs; false when there are more than `capacity` words.
bool SplitWords(std::string_view line, std::string_view* words, std::size_t capacity, std::size_t& count) {
    count = 0;
    std::size_t position = 0;
    while (true) {
        while (position < line.size() && (line[position] == ' ' || line[position] == '\t')) ++position;
        if (position == line.size()) return true;
        std::size_t end = position;
        while (end < line.size() && line[end] != ' ' && line[end] != '\t') ++end;
        if (count == capacity) return false;
        words[count++] = line.substr(position, end - position);
        position = end;
    }
}

// `"text"`, for error messages that quote what was typed. Built by appending: GCC 12 at -O3 warns of
// an overlapping memcpy inside `"\"" + std::string(text)`.
std::string Quoted(std::string_view text) {
    std::string quoted;
    quoted.reserve(text.size() + 2);
    quoted += '"';
    quoted.append(text);
    quoted += '"';
    return quoted;
}

} // namespace

bool ParseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error) {
    for (std::size_t index = 0; index < arguments.size(); ++index) {
        std::string_view argument = arguments[index];
        std::string_view value;
        bool haveValue = false;
        if (const std::size_t equals = argument.find('=');
            argument.starts_with("--") && equals != std::string_view::npos) {
            value = argument.substr(equals + 1);
            argument = argument.substr(0, equals);
            haveValue = true;
        }
        const bool takesValue =
            argument == "--port" || argument == "--name" || argument == "--allow" || argument == "--user-index-delay";
        if (takesValue && !haveValue) {
            if (index + 1 >= arguments.size()) {
                error = std::string(argument) + " needs a value";
                return false;
            }
            value = arguments[++index];
        } else if (!takesValue && haveValue) {
            error = std::string(argument) + " takes no value";
            return false;
        }

        std::uint64_t number = 0;
        if (argument == "--port") {
            if (!ParseDecimal(value, 65535, number)) {
                error = "--port needs a number from 0 to 65535";
                return false;
            }
            options.port = static_cast<std::uint16_t>(number);
        } else if (argument == "--name") {
            if (value.empty()) {
                error = "--name needs a name";
                return false;
            }
            options.name = value;
        } else if (argument == "--allow") {
            PhoneId id;
            if (!ParsePhoneIdText(value, id)) {
                error = "--allow needs a phone id of 32 hexadecimal digits";
                return false;
            }
            // The allowed list is keyed by the lowercase form.
            options.allowed.insert(PhoneIdText(id));
        } else if (argument == "--user-index-delay") {
            if (!ParseDecimal(value, LongestUserIndexDelay, number)) {
                error = "--user-index-delay needs milliseconds from 0 to 3600000";
                return false;
            }
            options.userIndexDelay = std::chrono::milliseconds(number);
        } else if (argument == "--no-ask-first") {
            options.askFirst = false;
        } else if (argument == "--no-bus") {
            options.noBus = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else {
            error = "unknown option " + std::string(argument);
            return false;
        }
    }
    return true;
}

const char* Usage() {
    return "Usage: velotrix-devserver [options]\n"
           "\n"
           "Runs the Velotrix phone server on a simulated controller bus. Prints one JSON event a line\n"
           "on standard output and reads one command a line on standard input.\n"
           "\n"
           "Options:\n"
           "  --port N                UDP port to listen on (0 picks a free one; default 47821)\n"
           "  --name NAME             this PC's name in every Status (default: the host name)\n"
           "  --no-ask-first          admit every phone at once instead of waiting for `allow`\n"
           "  --allow ID              admit this phone (32 hexadecimal digits) at once; repeatable\n"
           "  --no-bus                the driver is missing until the command connect-bus\n"
           "  --user-index-delay MS   the bus gives a pad its player number only MS after plugging\n"
           "  --help                  this text\n"
           "\n"
           "Commands:\n"
           "  allow SESSION | deny SESSION | disconnect SESSION\n"
           "  rumble SERIAL LARGE SMALL LED\n"
           "  snapshot | connect-bus | remove-bus | restore-bus | quit\n";
}

bool ParseCommand(std::string_view line, Command& command, std::string& error) {
    if (line.ends_with('\r')) line.remove_suffix(1);
    std::string_view words[6];
    std::size_t count = 0;
    const bool fits = SplitWords(line, words, std::size(words), count);
    if (count == 0) {
        command = Command{};
        return true;
    }

    struct Form {
        std::string_view name;
        CommandKind kind;
        std::size_t arguments;
        const char* usage;
    };
    static constexpr Form Forms[] = {
        {"allow", CommandKind::Allow, 1, "allow SESSION"},
        {"deny", CommandKind::Deny, 1, "deny SESSION"},
        {"disconnect", CommandKind::Disconnect, 1, "disconnect SESSION"},
        {"rumble", CommandKind::Rumble, 4, "rumble SERIAL LARGE SMALL LED"},
        {"snapshot", CommandKind::Snapshot, 0, "snapshot"},
        {"connect-bus", CommandKind::ConnectBus, 0, "connect-bus"},
        {"remove-bus", CommandKind::RemoveBus, 0, "remove-bus"},
        {"restore-bus", CommandKind::RestoreBus, 0, "restore-bus"},
        {"quit", CommandKind::Quit, 0, "quit"},
    };
    const Form* form = nullptr;
    for (const Form& candidate : Forms)
        if (candidate.name == words[0]) form = &candidate;
    if (form == nullptr) {
        error = "unknown command " + Quoted(words[0]);
        return false;
    }
    if (!fits || count != form->arguments + 1) {
        error = std::string("usage: ") + form->usage;
        return false;
    }

    Command parsed;
    parsed.kind = form->kind;
    std::uint64_t number = 0;
    switch (form->kind) {
    case CommandKind::Allow:
    case CommandKind::Deny:
    case CommandKind::Disconnect:
        if (!ParseDecimal(words[1], 0xFFFFFFFF, number)) {
            error = Quoted(words[1]) + " is not a session number (decimal, 0 to 4294967295)";
            return false;
        }
        parsed.session = static_cast<std::uint32_t>(number);
        break;
    case CommandKind::Rumble: {
        if (!ParseDecimal(words[1], 65535, number) || number == 0) {
            error = Quoted(words[1]) + " is not a pad serial (1 to 65535)";
            return false;
        }
        parsed.serial = static_cast<std::uint32_t>(number);
        std::uint8_t* const bytes[] = {&parsed.largeMotor, &parsed.smallMotor, &parsed.led};
        const char* const names[] = {"LARGE", "SMALL", "LED"};
        for (std::size_t index = 0; index < 3; ++index) {
            if (!ParseDecimal(words[2 + index], 255, number)) {
                error = std::string(names[index]) + " must be 0 to 255, not " + Quoted(words[2 + index]);
                return false;
            }
            *bytes[index] = static_cast<std::uint8_t>(number);
        }
        break;
    }
    default:
        break;
    }
    command = parsed;
    return true;
}

} // namespace Velotrix::DevServer
