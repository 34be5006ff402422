#pragma once

// The tools' command lines, on CLI11, which also writes their --help. Every value is read by the
// tool's own function rather than by CLI11's conversions: those read integers with strtoull in base
// 0 ("010" would be 8, "0x1F" 31, "-1" the largest number) and decimals with strtold, which takes
// "nan" and "inf". Only the files that describe options include CLI11 itself.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace Velotrix::CommandLine {

// Decimal digits only, from `minimum` to `maximum`; false leaves `out` alone.
[[nodiscard]] bool Unsigned(std::string_view text, std::uint64_t minimum, std::uint64_t maximum, std::uint64_t& out);
// A finite decimal number from `minimum` to `maximum`; false leaves `out` alone.
[[nodiscard]] bool Decimal(std::string_view text, double minimum, double maximum, double& out);

// Takes an option's value, stores it and answers true, or answers false for one it refuses.
using Reader = std::function<bool(std::string_view text)>;

// An option with one value, given as `--name value` or `--name=value`; given again, the last one
// counts. A value that `read` refuses is an error that reads `--name: "value" is not <what>`.
CLI::Option* Value(CLI::App& app, const std::string& name, const std::string& typeName, const std::string& description,
                   const std::string& what, Reader read);

// Readers for Value: a whole number from `minimum` to `maximum`; any text, or (with `mayBeEmpty`
// false) any but the empty one.
template <typename T>
Reader Number(T& target, std::uint64_t minimum, std::uint64_t maximum) {
    return [&target, minimum, maximum](std::string_view text) {
        std::uint64_t value = 0;
        if (!Unsigned(text, minimum, maximum, value)) return false;
        target = static_cast<T>(value);
        return true;
    };
}
Reader Text(std::string& target, bool mayBeEmpty);

// A flag, or with "--on,!--off" a pair of flags of which the last given counts. Flags take no
// value: "--flag=yes" is an error.
CLI::Option* Flag(CLI::App& app, const std::string& names, bool& target, const std::string& description);
CLI::Option* Flag(CLI::App& app, const std::string& name, std::function<void()> given, const std::string& description);

// Names the program and adds its options to the app; the options store what they read.
using Describe = std::function<void(CLI::App& app)>;

enum class Outcome { Run, Help, Error };

// Parses the arguments after the program's name. On Error, `message` says what was wrong and names
// the option or the argument; what the options store may then be partly set. Throws nothing.
[[nodiscard]] Outcome Parse(const Describe& describe, const std::vector<std::string>& arguments, std::string& message);

// The text of --help; empty when it could not be made.
std::string Help(const Describe& describe);

} // namespace Velotrix::CommandLine
