#include "Shell/Diagnostics.h"

#include <cctype>

#include "Server/Protocol.h"

namespace Velotrix {

namespace {

constexpr std::size_t PhoneIdDigits = 32;
constexpr std::size_t KeptDigits = 8;
constexpr char Ellipsis[] = "\xE2\x80\xA6";

bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

std::string OnOff(bool on) { return on ? "on" : "off"; }

std::string PhoneLine(const PhoneView& phone) {
    std::string line = "\xE2\x80\x9C" + phone.name + "\xE2\x80\x9D id " + phone.idText + ", from " + phone.address +
                       ", " + PhoneStateName(phone.state);
    if (phone.player > 0) line += ", player " + std::to_string(phone.player);
    line += ", " + std::to_string(phone.inputRate) + " inputs/s";
    line += phone.idle ? ", idle" : ", live";
    line += ", rumble " + std::to_string(phone.rumbleLarge) + "/" + std::to_string(phone.rumbleSmall);
    return line;
}

} // namespace

std::string CutPhoneIds(std::string_view text) {
    std::string cut;
    cut.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        if (!IsHex(text[i])) {
            cut += text[i++];
            continue;
        }
        std::size_t end = i;
        while (end < text.size() && IsHex(text[end])) ++end;
        if (end - i == PhoneIdDigits) {
            cut.append(text.substr(i, KeptDigits));
            cut += Ellipsis;
        } else {
            cut.append(text.substr(i, end - i));
        }
        i = end;
    }
    return cut;
}

std::vector<std::string> LastLines(std::string_view text, std::size_t count) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.emplace_back(line);
        start = end + 1;
    }
    if (lines.size() > count) lines.erase(lines.begin(), lines.end() - static_cast<std::ptrdiff_t>(count));
    return lines;
}

std::string DiagnosticsText(const DiagnosticsInput& input) {
    std::string text = "Velotrix " + input.version + " diagnostics, " + input.when + "\n";

    text += "\nChecks\n";
    text += FormatCheckLines(input.checks);

    text += "\nPhones\n";
    if (input.phones.empty()) text += "none\n";
    for (const PhoneView& phone : input.phones) text += PhoneLine(phone) + "\n";

    text += "\nSettings\n";
    text += "ask before a new phone connects: " + OnOff(input.settings.askFirst) + "\n";
    text += "keep running when the window closes: " + OnOff(input.settings.keepInTray) + "\n";
    text += "port: " + (input.settings.port == 0 ? std::string("not set") : std::to_string(input.settings.port)) +
            ", listening on " + std::to_string(input.port) + "\n";
    text += "allowed phones:";
    if (input.settings.allowed.empty()) text += " none";
    for (const std::string& id : input.settings.allowed) text += " " + id;
    text += "\n";

    text += "\nLog (last " + std::to_string(DiagnosticsLogLines) + " lines)\n";
    for (const std::string& line : input.logLines) text += line + "\n";
    // Last, over everything: an id may stand in a phone's name or a log line as well.
    return CutPhoneIds(text);
}

} // namespace Velotrix
