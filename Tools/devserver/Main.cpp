// velotrix-devserver: the phone server on the simulated bus, driven through standard input and
// reporting on standard output. See README.md beside this file.

#include "DevServer.h"

#include "SimulatedBus/SimulatedBus.h"
#include "Server/Server.h"
#include "Platform/Os.h"
#include "Shell/Log.h"

#include <cstdio>
#include <iostream>
#include <mutex>
#include <new>
#include <string>
#include <vector>

namespace Velotrix::DevServer {

namespace {

// Standard output, written by the receive thread (log lines, bus events, callbacks) and by the thread
// that reads commands. Each line goes out whole and is flushed at once, so a reader sees every event
// when it happens. Nothing else is called while the mutex is held: it is taken under the log's mutex,
// the server's and the bus's, and must come last.
class Output {
public:
    void Line(const char* text, std::size_t length) {
        std::lock_guard lock(mutex);
        std::fwrite(text, 1, length, stdout);
        std::fputc('\n', stdout);
        std::fflush(stdout);
    }
    void Line(const std::string& text) { Line(text.data(), text.size()); }

private:
    std::mutex mutex;
};

// Events built on the heap; one that cannot be built is dropped rather than ending the thread.
template <typename Make>
void Emit(Output& output, Make make) {
    try {
        output.Line(make());
    } catch (const std::bad_alloc&) {}
}

void OnLogLine(void* context, const char* line) {
    Emit(*static_cast<Output*>(context), [line] { return LogEvent(line); });
}

// Runs under the server's mutex and the bus's lock for every report: a stack buffer, no allocation.
void OnBusEvent(const SimulatedBus::BusEvent& event, void* context) {
    char line[BusEventBufferSize];
    const int length = FormatBusEvent(line, sizeof line, event);
    if (length > 0) static_cast<Output*>(context)->Line(line, static_cast<std::size_t>(length));
}

// {"event":"bus","state":"removed"|"restored","t":NS}: when the simulated device went or came back, on
// the clock of the report events, so that a reader can time the way back.
void BusChangeEvent(Output& output, const char* state) {
    char line[96];
    const int length = std::snprintf(line, sizeof line, "{\"event\":\"bus\",\"state\":\"%s\",\"t\":%lld}", state,
                                     static_cast<long long>(SteadyNow()));
    if (length > 0 && length < static_cast<int>(sizeof line)) output.Line(line, static_cast<std::size_t>(length));
}

bool HasSession(Server& server, std::uint32_t session) {
    for (const PhoneView& phone : server.Snapshot())
        if (phone.sessionId == session) return true;
    return false;
}

void Execute(Server& server, Output& output, const Command& command) {
    const auto noSuchSession = [&] {
        Emit(output, [&] { return ErrorEvent("no phone has session " + std::to_string(command.session)); });
    };
    switch (command.kind) {
    case CommandKind::Allow:
        if (!HasSession(server, command.session)) return noSuchSession();
        server.Allow(command.session);
        return;
    case CommandKind::Deny:
        if (!HasSession(server, command.session)) return noSuchSession();
        server.Deny(command.session);
        return;
    case CommandKind::Disconnect:
        if (!HasSession(server, command.session)) return noSuchSession();
        server.Disconnect(command.session);
        return;
    case CommandKind::Forget:
        // As the Options card's Forget: the id leaves the allowed list, and its next Hello asks again.
        if (!server.Forget(command.id))
            Emit(output, [&] { return ErrorEvent("no remembered phone has id " + command.id); });
        return;
    case CommandKind::Rumble:
        if (!SimulatedBus::SetRumble(command.serial, command.largeMotor, command.smallMotor, command.led))
            Emit(output, [&] { return ErrorEvent("no pad is plugged with serial " + std::to_string(command.serial)); });
        return;
    case CommandKind::Snapshot:
        Emit(output, [&] { return SnapshotEvent(server.Snapshot()); });
        return;
    case CommandKind::ConnectBus:
        // The driver "gets installed": the bus appears, then the server connects as after the
        // installer ran.
        SimulatedBus::SetFaults(SimulatedBus::Faults{});
        if (!server.ConnectBus()) Emit(output, [] { return ErrorEvent("the bus did not connect"); });
        return;
    case CommandKind::RemoveBus:
        // As a removed device: its pads go (their unplug events come first), requests on its handle
        // fail, its interface leaves the list; the server hears it from the interface watch.
        SimulatedBus::RemoveBus();
        BusChangeEvent(output, "removed");
        return;
    case CommandKind::RestoreBus:
        // The event before the bus: the server may plug pads again before this thread writes again.
        BusChangeEvent(output, "restored");
        SimulatedBus::RestoreBus();
        return;
    case CommandKind::Nothing:
    case CommandKind::Quit:
        return;
    }
}

// Until `quit`, the end of input, or Ctrl+C / SIGTERM.
void ReadCommands(Server& server, Output& output) {
    std::string line;
    while (!StopRequested() && std::getline(std::cin, line)) {
        Command command;
        std::string error;
        if (!ParseCommand(line, command, error)) {
            Emit(output, [&] { return ErrorEvent(error); });
            continue;
        }
        if (command.kind == CommandKind::Quit) return;
        Execute(server, output, command);
    }
}

int Run(const std::vector<std::string>& arguments) {
    Output output;
    Options options;
    std::string error;
    if (!ParseOptions(arguments, options, error)) {
        output.Line(ErrorEvent(error));
        std::fprintf(stderr, "velotrix-devserver: %s\n\n%s", error.c_str(), Usage());
        return 2;
    }
    if (options.help) {
        std::fputs(Usage(), stdout);
        return 0;
    }

    BlockStopSignals();
    SetLogSink(&OnLogLine, &output);
    if (options.noBus) {
        SimulatedBus::Faults faults;
        faults.noBus = true;
        SimulatedBus::SetFaults(faults);
    }
    SimulatedBus::SetUserIndexDelay(options.userIndexDelay);
    SimulatedBus::SetObserver(&OnBusEvent, &output);

    int status = 0;
    {
        Server server;
        server.SetHostName(options.name.empty() ? HostName() : options.name);
        server.SetAskFirst(options.askFirst);
        server.SetAllowed(options.allowed);
        server.SetOnRequest([&output](const std::string& name) { Emit(output, [&] { return RequestEvent(name); }); });
        server.SetOnChanged([&output] { Emit(output, [] { return ChangedEvent(); }); });
        server.SetOnAllowedChanged(
            [&output, &server] { Emit(output, [&] { return AllowedEvent(server.AllowedList()); }); });

        if (server.Start(options.port, error)) {
            output.Line(ListeningEvent(server.Port()));
            TakeStopSignalsOnThisThread();
            ReadCommands(server, output);
            server.Stop();
        } else {
            output.Line(ErrorEvent(error));
            status = 1;
        }
        server.SetOnRequest(nullptr);
        server.SetOnChanged(nullptr);
        server.SetOnAllowedChanged(nullptr);
        // Destroying the server unplugs the remaining pads; their unplug events still go out.
    }
    SimulatedBus::SetObserver(nullptr, nullptr);
    SetLogSink(nullptr, nullptr);
    return status;
}

} // namespace

} // namespace Velotrix::DevServer

int main(int argc, char** argv) {
    try {
        return Velotrix::DevServer::Run(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "velotrix-devserver: %s\n", failure.what());
        return 1;
    }
}
