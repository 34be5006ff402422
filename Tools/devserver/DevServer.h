#pragma once

// velotrix-devserver: the real Server on the simulated bus, without a window, talking JSON lines on
// standard output and reading one command a line on standard input. The parts that need no socket and
// no process live here so that the native tests reach them: the command line, the commands and the
// JSON events.

#include "Common/DefaultPort.h"
#include "SimulatedBus/SimulatedBus.h"
#include "Server/Server.h"

#include <chrono>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace Velotrix::DevServer {

struct Options {
    std::uint16_t port = DefaultPort;
    // Empty: the host name.
    std::string name;
    bool askFirst = true;
    // Lowercase text of each phone id given with --allow.
    std::set<std::string> allowed;
    bool noBus = false;
    std::chrono::milliseconds userIndexDelay{0};
    bool help = false;
};

// Reads the arguments after the program's name (`--opt value` or `--opt=value`). On false, `error`
// says what was wrong and `options` may be partly filled.
[[nodiscard]] bool ParseOptions(const std::vector<std::string>& arguments, Options& options, std::string& error);
const char* Usage();

enum class CommandKind {
    Nothing,
    Allow,
    Deny,
    Disconnect,
    Forget,
    Rumble,
    Snapshot,
    ConnectBus,
    RemoveBus,
    RestoreBus,
    Quit
};

struct Command {
    CommandKind kind = CommandKind::Nothing;
    std::uint32_t session = 0;
    std::uint32_t serial = 0;
    std::uint8_t largeMotor = 0;
    std::uint8_t smallMotor = 0;
    std::uint8_t led = 0;
    std::string id{}; // `forget`: the phone id, lowercase as the allowed list keys it
};

// One line of standard input, without its newline (a trailing carriage return is ignored). A blank
// line is CommandKind::Nothing. On false, `error` says what is wrong and `command` is untouched.
[[nodiscard]] bool ParseCommand(std::string_view line, Command& command, std::string& error);

// One event each, without the newline.
std::string ListeningEvent(std::uint16_t port);
std::string LogEvent(std::string_view line);
std::string RequestEvent(std::string_view name);
std::string ChangedEvent();
std::string AllowedEvent(const std::set<std::string>& ids);
std::string ErrorEvent(std::string_view message);
std::string SnapshotEvent(const std::vector<PhoneView>& phones);

// The plug, unplug and report events of the simulated bus. They are written on the thread that holds
// the server's mutex and the bus's lock, so they go into `buffer` without touching the heap. Answers
// the length, or 0 when `size` is too small; BusEventBufferSize always suffices.
inline constexpr int BusEventBufferSize = 256;
int FormatBusEvent(char* buffer, int size, const SimulatedBus::BusEvent& event);

// This machine's name for Status datagrams: the host name, "PC" when there is none.
std::string HostName();

// Ctrl+C and SIGTERM end the dev server as `quit` does. Block them before any thread starts, so every
// thread inherits the block, then let the thread that reads standard input take them: the signal
// interrupts its read. StopRequested tells whether one came.
void BlockStopSignals();
void TakeStopSignalsOnThisThread();
bool StopRequested();

} // namespace Velotrix::DevServer
