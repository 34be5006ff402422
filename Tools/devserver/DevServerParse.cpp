// The command line and the commands read from standard input.

#include "DevServer.h"

#include "CommandLine.h"

#include <CLI/CLI.hpp>

namespace Velotrix::DevServer {

namespace {

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

// The options, for parsing and for --help alike; each stores what it reads in `options`.
void Describe(CLI::App& app, Options& options) {
    using namespace CommandLine;
    app.name("velotrix-devserver");
    app.description("Runs the Velotrix phone server on a simulated controller bus. Prints one JSON event a line\n"
                    "on standard output and reads one command a line on standard input.");
    app.footer("Commands:\n"
               "  allow SESSION | deny SESSION | disconnect SESSION\n"
               "  rumble SERIAL LARGE SMALL LED\n"
               "  snapshot | connect-bus | remove-bus | restore-bus | quit");
    app.set_help_flag("-h,--help", "this text");
    Value(app, "--port", "N",
          "UDP port to listen on (0 picks a free one; default " + std::to_string(Options{}.port) + ")",
          "a port number (0 to 65535)", Number(options.port, 0, 65535));
    Value(app, "--name", "NAME", "this PC's name in every Status (default: the host name)", "a name",
          Text(options.name, false));
    Flag(
        app, "--no-ask-first", [&options] { options.askFirst = false; },
        "admit every phone at once instead of waiting for `allow`");
    Value(app, "--allow", "ID", "admit this phone (32 hexadecimal digits) at once; repeatable",
          "a phone id of 32 hexadecimal digits",
          [&options](std::string_view text) {
              PhoneId id;
              if (!ParsePhoneIdText(text, id)) return false;
              // The allowed list is keyed by the lowercase form.
              options.allowed.insert(PhoneIdText(id));
              return true;
          })
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    Flag(app, "--no-bus", options.noBus, "the driver is missing until the command connect-bus");
    Value(app, "--user-index-delay", "MS", "the bus gives a pad its player number only MS after plugging",
          "milliseconds from 0 to 3600000", [&options](std::string_view text) {
              std::uint64_t delay = 0;
              if (!Unsigned(text, 0, LongestUserIndexDelay, delay)) return false;
              options.userIndexDelay = std::chrono::milliseconds(delay);
              return true;
          });
}

} // namespace

bool ParseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error) {
    switch (CommandLine::Parse([&options](CLI::App& app) { Describe(app, options); }, arguments, error)) {
    case CommandLine::Outcome::Run:
        return true;
    case CommandLine::Outcome::Help:
        options.help = true;
        return true;
    case CommandLine::Outcome::Error:
        break;
    }
    return false;
}

const char* Usage() {
    // Made once: callers print it as it is.
    static const std::string text = [] {
        Options unused;
        return CommandLine::Help([&unused](CLI::App& app) { Describe(app, unused); });
    }();
    return text.c_str();
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
        {"forget", CommandKind::Forget, 1, "forget ID"},
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
        if (!CommandLine::Unsigned(words[1], 0, 0xFFFFFFFF, number)) {
            error = Quoted(words[1]) + " is not a session number (decimal, 0 to 4294967295)";
            return false;
        }
        parsed.session = static_cast<std::uint32_t>(number);
        break;
    case CommandKind::Forget: {
        PhoneId id;
        if (!ParsePhoneIdText(words[1], id)) {
            error = Quoted(words[1]) + " is not a phone id (32 hexadecimal digits)";
            return false;
        }
        parsed.id = PhoneIdText(id);
        break;
    }
    case CommandKind::Rumble: {
        if (!CommandLine::Unsigned(words[1], 1, 65535, number)) {
            error = Quoted(words[1]) + " is not a pad serial (1 to 65535)";
            return false;
        }
        parsed.serial = static_cast<std::uint32_t>(number);
        std::uint8_t* const bytes[] = {&parsed.largeMotor, &parsed.smallMotor, &parsed.led};
        const char* const names[] = {"LARGE", "SMALL", "LED"};
        for (std::size_t index = 0; index < 3; ++index) {
            if (!CommandLine::Unsigned(words[2 + index], 0, 255, number)) {
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
