// A pretend netsh.exe for the firewall requests "advfirewall firewall add rule name=N ..." and
// "advfirewall firewall delete rule name=N [program=P]". VELOTRIX_TEST_NETSH_RULES names the rule table,
// one rule a line: the arguments after "add rule", as the command line splits them, separated by tabs.
// "add" appends a line; "delete" removes every line whose first argument is its "name=N" and, when it
// names a program, whose "program=" argument names the same one (letter case aside), as netsh does.
// It answers 0, and 1 for a delete that found none, as netsh does. When VELOTRIX_TEST_REQUESTS names a
// file, every request is also appended to it as "netsh<TAB>" and its arguments, separated by tabs.

#include <windows.h>
#include <shellapi.h>

#include "../StandInText.h"

#include <fstream>
#include <string>
#include <vector>

namespace {

using StandIn::Environment;
using StandIn::Utf8;

std::vector<std::string> ReadLines(const std::wstring& path) {
    std::vector<std::string> lines;
    std::ifstream in(path.c_str());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void WriteLines(const std::wstring& path, const std::vector<std::string>& lines) {
    std::ofstream out(path.c_str(), std::ios::trunc);
    for (const std::string& line : lines) out << line << '\n';
}

// Letter case aside, as Windows compares program paths; the paths here are ASCII.
std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

} // namespace

int wmain() {
    int count = 0;
    LPWSTR* split = CommandLineToArgvW(GetCommandLineW(), &count);
    if (split == nullptr) return 1;
    std::vector<std::string> arguments;
    for (int i = 1; i < count; ++i) arguments.push_back(Utf8(split[i]));
    LocalFree(split);

    const std::wstring rulesPath = Environment(L"VELOTRIX_TEST_NETSH_RULES");
    if (arguments.size() < 5 || arguments[0] != "advfirewall" || arguments[1] != "firewall" || arguments[3] != "rule" ||
        rulesPath.empty()) {
        return 1;
    }
    const std::wstring requestsPath = Environment(L"VELOTRIX_TEST_REQUESTS");
    if (!requestsPath.empty()) {
        std::string request = "netsh";
        for (const std::string& argument : arguments) request += "\t" + argument;
        std::ofstream(requestsPath.c_str(), std::ios::app) << request << '\n';
    }
    std::vector<std::string> rules = ReadLines(rulesPath);
    if (arguments[2] == "add") {
        std::string rule;
        for (std::size_t i = 4; i < arguments.size(); ++i) rule += (i > 4 ? "\t" : "") + arguments[i];
        rules.push_back(rule);
        WriteLines(rulesPath, rules);
        return 0;
    }
    if (arguments[2] == "delete") {
        const std::string program = arguments.size() > 5 ? Lower(arguments[5]) : std::string();
        if (!program.empty() && program.rfind("program=", 0) != 0) return 1;
        std::vector<std::string> kept;
        for (const std::string& rule : rules) {
            const bool named = rule.substr(0, rule.find('\t')) == arguments[4];
            const bool sameProgram = program.empty() || Lower(rule).find("\t" + program + "\t") != std::string::npos;
            if (!named || !sameProgram) kept.push_back(rule);
        }
        WriteLines(rulesPath, kept);
        return kept.size() == rules.size() ? 1 : 0;
    }
    return 1;
}
