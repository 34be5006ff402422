// The JSON events the dev server prints, one object a line.

#include "DevServer.h"

#include "Json.h"

#include "Server/Protocol.h"

#include <cinttypes>
#include <cstdio>

namespace Velotrix::DevServer {

namespace {

void AppendNumber(std::string& out, std::int64_t value) { out += std::to_string(value); }

void AppendKey(std::string& out, const char* key) {
    out += '"';
    out += key;
    out += "\":";
}

void AppendField(std::string& out, const char* key, std::int64_t value) {
    AppendKey(out, key);
    AppendNumber(out, value);
    out += ',';
}

void AppendField(std::string& out, const char* key, std::string_view value) {
    AppendKey(out, key);
    AppendJsonString(out, value);
    out += ',';
}

void AppendField(std::string& out, const char* key, bool value) {
    AppendKey(out, key);
    out += value ? "true," : "false,";
}

// Replaces the trailing comma of the last field with the closing brace.
void CloseObject(std::string& out) {
    if (!out.empty() && out.back() == ',') out.pop_back();
    out += '}';
}

std::string EventStart(const char* name) {
    std::string out = "{\"event\":\"";
    out += name;
    out += "\",";
    return out;
}

void AppendPhone(std::string& out, const PhoneView& phone) {
    out += '{';
    AppendField(out, "session", std::int64_t{phone.sessionId});
    AppendField(out, "id", std::string_view(phone.idText));
    AppendField(out, "name", std::string_view(phone.name));
    AppendField(out, "address", std::string_view(phone.address));
    AppendField(out, "state", std::int64_t{phone.state});
    AppendField(out, "state_name", std::string_view(PhoneStateName(phone.state)));
    AppendField(out, "player", std::int64_t{phone.player});
    AppendKey(out, "input");
    out += '{';
    AppendField(out, "session", std::int64_t{phone.input.sessionId});
    AppendField(out, "lx", std::int64_t{phone.input.leftX});
    AppendField(out, "ly", std::int64_t{phone.input.leftY});
    AppendField(out, "rx", std::int64_t{phone.input.rightX});
    AppendField(out, "ry", std::int64_t{phone.input.rightY});
    AppendField(out, "lt", std::int64_t{phone.input.leftTrigger});
    AppendField(out, "rt", std::int64_t{phone.input.rightTrigger});
    AppendField(out, "buttons", std::int64_t{phone.input.buttons});
    AppendField(out, "echo", std::int64_t{phone.input.echo});
    CloseObject(out);
    out += ',';
    AppendField(out, "idle", phone.idle);
    AppendField(out, "rate", std::int64_t{phone.inputRate});
    AppendField(out, "rumble_large", std::int64_t{phone.rumbleLarge});
    AppendField(out, "rumble_small", std::int64_t{phone.rumbleSmall});
    CloseObject(out);
}

} // namespace

std::string ListeningEvent(std::uint16_t port) {
    std::string out = EventStart("listening");
    AppendField(out, "port", std::int64_t{port});
    CloseObject(out);
    return out;
}

std::string LogEvent(std::string_view line) {
    std::string out = EventStart("log");
    AppendField(out, "line", line);
    CloseObject(out);
    return out;
}

std::string RequestEvent(std::string_view name) {
    std::string out = EventStart("request");
    AppendField(out, "name", name);
    CloseObject(out);
    return out;
}

std::string ChangedEvent() { return "{\"event\":\"changed\"}"; }

std::string AllowedEvent(const std::set<std::string>& ids) {
    std::string out = EventStart("allowed");
    AppendKey(out, "ids");
    out += '[';
    for (const std::string& id : ids) {
        AppendJsonString(out, id);
        out += ',';
    }
    if (out.back() == ',') out.pop_back();
    out += "]}";
    return out;
}

std::string ErrorEvent(std::string_view message) {
    std::string out = EventStart("error");
    AppendField(out, "message", message);
    CloseObject(out);
    return out;
}

std::string SnapshotEvent(const std::vector<PhoneView>& phones) {
    std::string out = EventStart("snapshot");
    AppendKey(out, "phones");
    out += '[';
    for (const PhoneView& phone : phones) {
        AppendPhone(out, phone);
        out += ',';
    }
    if (out.back() == ',') out.pop_back();
    out += "]}";
    return out;
}

int FormatBusEvent(char* buffer, int size, const SimulatedBus::BusEvent& event) {
    if (size <= 0) return 0;
    int length = 0;
    const auto serial = static_cast<unsigned>(event.serial);
    switch (event.kind) {
    case SimulatedBus::BusEventKind::Plug:
        length = std::snprintf(buffer, static_cast<std::size_t>(size), "{\"event\":\"plug\",\"serial\":%u}", serial);
        break;
    case SimulatedBus::BusEventKind::Unplug:
        length = std::snprintf(buffer, static_cast<std::size_t>(size), "{\"event\":\"unplug\",\"serial\":%u}", serial);
        break;
    case SimulatedBus::BusEventKind::Report: {
        const ControllerReport& report = event.report;
        length = std::snprintf(buffer, static_cast<std::size_t>(size),
                               "{\"event\":\"report\",\"serial\":%u,\"t\":%" PRId64
                               ",\"buttons\":%u,\"lt\":%u,\"rt\":%u,\"lx\":%d,\"ly\":%d,\"rx\":%d,\"ry\":%d}",
                               serial, event.time, static_cast<unsigned>(report.buttons),
                               static_cast<unsigned>(report.leftTrigger), static_cast<unsigned>(report.rightTrigger),
                               static_cast<int>(report.leftStickX), static_cast<int>(report.leftStickY),
                               static_cast<int>(report.rightStickX), static_cast<int>(report.rightStickY));
        break;
    }
    }
    if (length < 0 || length >= size) {
        buffer[0] = '\0';
        return 0;
    }
    return length;
}

} // namespace Velotrix::DevServer
