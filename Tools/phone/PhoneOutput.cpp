#include "Phone.h"

#include "Json.h"

namespace Velotrix {

namespace {

std::string Hex(const std::uint8_t* data, int count) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string text;
    text.reserve(static_cast<std::size_t>(count) * 2);
    for (int i = 0; i < count; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0x0F];
    }
    return text;
}

// One printed line in either form: "kind key=value ..." or {"type":"kind","key":value,...}.
class Line {
public:
    Line(OutputForm form, std::string_view type, std::string_view what = {}) : form(form) {
        if (form == OutputForm::Json) {
            json["type"] = type;
            if (!what.empty()) json["what"] = what;
        } else {
            text = type;
            if (!what.empty()) Append(" ", what);
        }
    }

    Line& Number(const char* key, std::int64_t value) { return Add(key, value, std::to_string(value)); }
    // Quoted in both forms.
    Line& String(const char* key, std::string_view value) { return Add(key, ValidUtf8(value), JsonString(value)); }
    // Quoted in JSON, bare in text.
    Line& Word(const char* key, std::string_view value) { return Add(key, value, std::string(value)); }
    // Only JSON lines carry the receipt or send time.
    std::string Finish(std::int64_t t) {
        if (form == OutputForm::Text) return text;
        json["t"] = t;
        return Dump(json);
    }

private:
    Line& Add(const char* key, JsonLine value, const std::string& textValue) {
        if (form == OutputForm::Json)
            json[key] = std::move(value);
        else
            Append(" ", key, "=", textValue);
        return *this;
    }

    // Appended piece by piece: a temporary built with + (" " + std::string(key)) makes GCC 12 at -O3
    // warn of an overlapping copy inside std::string (-Wrestrict) that cannot happen.
    template <typename... Pieces>
    void Append(const Pieces&... pieces) {
        (text.append(std::string_view(pieces)), ...);
    }

    OutputForm form;
    JsonLine json;
    std::string text;
};

std::string StateWord(std::uint8_t state) { return std::to_string(state) + "(" + PhoneStateName(state) + ")"; }

} // namespace

ReceivedKind ClassifyReceived(const std::uint8_t* data, int length) {
    Header header;
    if (!ReadHeader({data, static_cast<std::size_t>(length)}, header) || header.version != ProtocolVersion)
        return ReceivedKind::Other;
    StatusDatagram status;
    FeedbackDatagram feedback;
    switch (static_cast<DatagramType>(header.type)) {
    case DatagramType::Status:
        return ReadStatus({data, static_cast<std::size_t>(length)}, status) ? ReceivedKind::Status
                                                                            : ReceivedKind::Other;
    case DatagramType::Feedback:
        return ReadFeedback({data, static_cast<std::size_t>(length)}, feedback) ? ReceivedKind::Feedback
                                                                                : ReceivedKind::Other;
    case DatagramType::UnknownSession:
        return ReceivedKind::UnknownSession;
    default:
        return ReceivedKind::Other;
    }
}

std::string FormatReceived(const std::uint8_t* data, int available, int length, std::int64_t t, OutputForm form) {
    switch (ClassifyReceived(data, available)) {
    case ReceivedKind::Status: {
        StatusDatagram status;
        (void)ReadStatus({data, static_cast<std::size_t>(available)}, status);
        Line line(form, "status");
        line.Number("seq", status.sequence).Number("session", status.sessionId).Number("player", status.player);
        if (form == OutputForm::Json)
            line.Number("state", status.state).String("state_name", PhoneStateName(status.state));
        else
            line.Word("state", StateWord(status.state));
        return line.String("name", status.hostName).Number("bytes", length).Finish(t);
    }
    case ReceivedKind::Feedback: {
        FeedbackDatagram feedback;
        (void)ReadFeedback({data, static_cast<std::size_t>(available)}, feedback);
        return Line(form, "feedback")
            .Number("seq", feedback.sequence)
            .Number("session", feedback.sessionId)
            .Number("large", feedback.largeMotor)
            .Number("small", feedback.smallMotor)
            .Number("led", feedback.led)
            .Number("echo", feedback.echo)
            .Number("bytes", length)
            .Finish(t);
    }
    case ReceivedKind::UnknownSession: {
        Header header;
        (void)ReadHeader({data, static_cast<std::size_t>(available)}, header);
        return Line(form, form == OutputForm::Json ? "unknown_session" : "unknown-session")
            .Number("seq", header.sequence)
            .Number("bytes", length)
            .Finish(t);
    }
    case ReceivedKind::Other:
        break;
    }
    return Line(form, "other").Number("bytes", length).Word("hex", Hex(data, available)).Finish(t);
}

std::string FormatSentHello(std::uint16_t sequence, std::uint8_t version, const PhoneId& id, std::string_view name,
                            int bytes, std::int64_t t, OutputForm form) {
    return Line(form, "sent", "hello")
        .Number("seq", sequence)
        .Number("version", version)
        .Word("id", PhoneIdText(id))
        .String("name", name)
        .Number("bytes", bytes)
        .Finish(t);
}

std::string FormatSentBye(std::uint16_t sequence, std::uint32_t sessionId, int bytes, std::int64_t t, OutputForm form) {
    return Line(form, "sent", "bye")
        .Number("seq", sequence)
        .Number("session", sessionId)
        .Number("bytes", bytes)
        .Finish(t);
}

std::string FormatSentInput(const InputDatagram& input, std::int64_t t, OutputForm form) {
    return Line(form, "sent", "input")
        .Number("seq", input.sequence)
        .Number("session", input.state.sessionId)
        .Number("lx", input.state.leftX)
        .Number("ly", input.state.leftY)
        .Number("rx", input.state.rightX)
        .Number("ry", input.state.rightY)
        .Number("lt", input.state.leftTrigger)
        .Number("rt", input.state.rightTrigger)
        .Number("buttons", input.state.buttons)
        .Number("echo", input.state.echo)
        .Finish(t);
}

std::string FormatSentRaw(const std::vector<std::uint8_t>& bytes, std::int64_t t, OutputForm form) {
    return Line(form, "sent", "raw")
        .Number("bytes", static_cast<std::int64_t>(bytes.size()))
        .Word("hex", Hex(bytes.data(), static_cast<int>(bytes.size())))
        .Finish(t);
}

std::string FormatSummary(const PhoneSummary& summary, OutputForm form) {
    const auto count = [](std::uint64_t value) { return std::to_string(value); };
    if (form == OutputForm::Text) {
        // Appended piece by piece, as in Line.
        std::string text = "summary";
        const auto add = [&text](const char* key, const std::string& value) {
            text += ' ';
            text += key;
            text += '=';
            text += value;
        };
        add("sent_inputs", count(summary.sentInputs));
        add("lost_inputs", count(summary.lostInputs));
        add("sent_hellos", count(summary.sentHellos));
        add("status", count(summary.status));
        add("feedback", count(summary.feedback));
        add("unknown-session", count(summary.unknownSession));
        add("other", count(summary.other));
        add("last_state", summary.haveState ? StateWord(summary.lastState) : std::string("none"));
        return text;
    }
    const JsonLine received = {{"status", summary.status},
                               {"feedback", summary.feedback},
                               {"unknown_session", summary.unknownSession},
                               {"other", summary.other}};
    const JsonLine line = {{"type", "summary"},
                           {"sent_inputs", summary.sentInputs},
                           {"lost_inputs", summary.lostInputs},
                           {"sent_hellos", summary.sentHellos},
                           {"received", received},
                           {"last_state", summary.haveState ? JsonLine(summary.lastState) : JsonLine()}};
    return Dump(line);
}

} // namespace Velotrix
