// The JSON events the dev server prints, one object a line.

#include "DevServer.h"

#include "Json.h"

#include "Server/Protocol.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace Velotrix::DevServer {

namespace {

JsonLine Event(const char* name) {
    JsonLine event;
    event["event"] = name;
    return event;
}

// The Wi-Fi figures to a tenth: the digits beyond tell nothing about a network.
double Tenths(double value) { return std::round(value * 10) / 10; }

JsonLine Phone(const PhoneView& phone) {
    JsonLine out;
    out["session"] = phone.sessionId;
    out["id"] = ValidUtf8(phone.idText);
    out["name"] = ValidUtf8(phone.name);
    out["address"] = ValidUtf8(phone.address);
    out["state"] = phone.state;
    out["state_name"] = PhoneStateName(phone.state);
    out["player"] = phone.player;
    JsonLine& input = out["input"];
    input["session"] = phone.input.sessionId;
    input["lx"] = phone.input.leftX;
    input["ly"] = phone.input.leftY;
    input["rx"] = phone.input.rightX;
    input["ry"] = phone.input.rightY;
    input["lt"] = phone.input.leftTrigger;
    input["rt"] = phone.input.rightTrigger;
    input["buttons"] = phone.input.buttons;
    input["echo"] = phone.input.echo;
    out["idle"] = phone.idle;
    out["rate"] = phone.inputRate;
    out["rumble_large"] = phone.rumbleLarge;
    out["rumble_small"] = phone.rumbleSmall;
    out["loss_percent"] = Tenths(phone.lossPercent);
    out["jitter_ms"] = Tenths(phone.jitterMs);
    out["longest_gap_ms"] = Tenths(phone.longestGapMs);
    return out;
}

// An event with one field of text.
std::string TextEvent(const char* name, const char* key, std::string_view text) {
    JsonLine event = Event(name);
    event[key] = ValidUtf8(text);
    return Dump(event);
}

} // namespace

std::string ListeningEvent(std::uint16_t port) {
    JsonLine event = Event("listening");
    event["port"] = port;
    return Dump(event);
}

std::string LogEvent(std::string_view line) { return TextEvent("log", "line", line); }

std::string RequestEvent(std::string_view name) { return TextEvent("request", "name", name); }

std::string ChangedEvent() { return Dump(Event("changed")); }

std::string AllowedEvent(const std::set<std::string>& ids) {
    JsonLine event = Event("allowed");
    JsonLine& list = event["ids"] = JsonLine::array();
    for (const std::string& id : ids) list.push_back(ValidUtf8(id));
    return Dump(event);
}

std::string ErrorEvent(std::string_view message) { return TextEvent("error", "message", message); }

std::string SnapshotEvent(const std::vector<PhoneView>& phones) {
    JsonLine event = Event("snapshot");
    JsonLine& list = event["phones"] = JsonLine::array();
    for (const PhoneView& phone : phones) list.push_back(Phone(phone));
    return Dump(event);
}

// Runs under the server's mutex and the bus's lock for every report, so it writes into the caller's
// buffer with snprintf: a JsonLine would allocate.
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
