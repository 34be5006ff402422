#pragma once

// A server with its socket open but no receive thread: tests hand it datagrams and ticks with a clock
// of their own, and read its answers on the test phones' real sockets.

#include "SimulatedBus/SimulatedBus.h"
#include "Server/Server.h"
#include "Shell/Log.h"
#include "TestPhone.h"

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace Velotrix {

// Every log line while it lives, without the time stamp.
class LogCapture {
public:
    LogCapture() { SetLogSink(&LogCapture::Sink, this); }
    ~LogCapture() { SetLogSink(nullptr, nullptr); } // its mutex makes it uncopyable, as the sink's context must be

    std::vector<std::string> Lines() {
        std::lock_guard lock(mutex);
        return lines;
    }
    int Count(const std::string& message) {
        int count = 0;
        for (const auto& line : Lines()) count += line == message ? 1 : 0;
        return count;
    }
    void Clear() {
        std::lock_guard lock(mutex);
        lines.clear();
    }

private:
    static void Sink(void* context, const char* line) {
        auto* self = static_cast<LogCapture*>(context);
        std::lock_guard lock(self->mutex);
        // "HH:MM:SS.mmm " is 13 bytes.
        self->lines.emplace_back(std::string(line).substr(13));
    }
    std::mutex mutex;
    std::vector<std::string> lines;
};

// The next Status `phone` receives; a failure, and an empty Status, when none comes within a second.
inline StatusDatagram NextStatus(TestPhone& phone) {
    const auto status = phone.ReceiveStatus(1000);
    EXPECT_TRUE(status) << "no Status for " << phone.Name();
    return status ? *status : StatusDatagram{};
}

class ServerFixture : public ::testing::Test {
protected:
    static constexpr std::int64_t Ms = 1'000'000;
    static constexpr std::int64_t Second = 1'000'000'000;

    void SetUp() override { SimulatedBus::Reset(); }
    void TearDown() override {
        server.reset();
        SimulatedBus::Reset();
    }

    // Makes the server; the bus is connected unless a fault was set before.
    Server& MakeServer(bool askFirst = true) {
        server = std::make_unique<Server>();
        server->SetHostName("RACING-PC");
        server->SetAskFirst(askFirst);
        std::string error;
        EXPECT_TRUE(server->OpenSocket(0, error)) << error;
        server->SetOnChanged([this] { ++changes; });
        server->SetOnRequest([this](const std::string& name) { requests.push_back(name); });
        return *server;
    }

    void Send(TestPhone& phone, const Bytes& datagram, std::int64_t now) {
        server->HandleDatagram(datagram.data(), static_cast<int>(datagram.size()), phone.From(), now);
    }
    // Says Hello and answers the Status that came back.
    StatusDatagram Hello(TestPhone& phone, std::int64_t now) {
        Send(phone, phone.Hello(), now);
        return NextStatus(phone);
    }
    void Input(TestPhone& phone, std::uint32_t session, std::uint16_t sequence, std::int64_t now,
               InputDatagram input = {}) {
        input.state.sessionId = session;
        input.sequence = sequence;
        Send(phone, phone.Input(input), now);
    }

    std::vector<FeedbackDatagram> Feedbacks(TestPhone& phone, int timeoutMs = 30) {
        std::vector<FeedbackDatagram> out;
        for (const Bytes& datagram : phone.ReceiveAll(timeoutMs)) {
            FeedbackDatagram feedback;
            if (ReadFeedback(datagram, feedback)) out.push_back(feedback);
        }
        return out;
    }

    std::unique_ptr<Server> server;
    LogCapture logs;
    int changes = 0;
    std::vector<std::string> requests;
};

inline std::uint8_t State(PhoneState state) { return static_cast<std::uint8_t>(state); }

} // namespace Velotrix
