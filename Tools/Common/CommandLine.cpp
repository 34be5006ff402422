#include "CommandLine.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <utility>

namespace Velotrix::CommandLine {

bool Unsigned(std::string_view text, std::uint64_t minimum, std::uint64_t maximum, std::uint64_t& out) {
    if (text.empty()) return false;
    std::uint64_t value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || value < minimum || value > maximum) return false;
    out = value;
    return true;
}

bool Decimal(std::string_view text, double minimum, double maximum, double& out) {
    if (text.empty()) return false;
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (error != std::errc() || stop != end || !std::isfinite(value) || value < minimum || value > maximum)
        return false;
    out = value;
    return true;
}

CLI::Option* Value(CLI::App& app, const std::string& name, const std::string& typeName, const std::string& description,
                   const std::string& what, Reader read) {
    // A check runs on every value given, in order, so the last one given is the one left stored.
    CLI::Validator check(
        [what, read = std::move(read)](std::string& value) {
            return read(value) ? std::string() : "\"" + value + "\" is not " + what;
        },
        "");
    return app.add_option(name, description)
        ->type_name(typeName)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)
        ->check(std::move(check));
}

Reader Text(std::string& target, bool mayBeEmpty) {
    return [&target, mayBeEmpty](std::string_view text) {
        if (text.empty() && !mayBeEmpty) return false;
        target = text;
        return true;
    };
}

namespace {

// A bare flag gives "true", its negated form "false"; anything else came after an "=".
const CLI::Validator& NoValue() {
    static const CLI::Validator check(
        [](std::string& value) {
            return value == "true" || value == "false" ? std::string() : std::string("takes no value");
        },
        "");
    return check;
}

} // namespace

CLI::Option* Flag(CLI::App& app, const std::string& names, bool& target, const std::string& description) {
    return app.add_flag(names, target, description)->check(NoValue());
}

CLI::Option* Flag(CLI::App& app, const std::string& name, std::function<void()> given, const std::string& description) {
    return app.add_flag_callback(name, std::move(given), description)->check(NoValue());
}

Outcome Parse(const Describe& describe, const std::vector<std::string>& arguments, std::string& message) {
    try {
        CLI::App app;
        describe(app);
        // CLI11 takes the arguments from the back.
        std::vector<std::string> reversed(arguments.rbegin(), arguments.rend());
        app.parse(reversed);
        return Outcome::Run;
    } catch (const CLI::CallForHelp&) {
        return Outcome::Help;
    } catch (const std::exception& error) {
        // CLI::ParseError's text names the option or the argument; anything else is out of memory.
        message = error.what();
    }
    return Outcome::Error;
}

std::string Help(const Describe& describe) {
    try {
        CLI::App app;
        describe(app);
        return app.help();
    } catch (const std::exception&) {
        return {};
    }
}

} // namespace Velotrix::CommandLine
