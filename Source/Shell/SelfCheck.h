#pragma once

// What "Velotrix.exe --self-check" and "Copy diagnostics" say about each check, built from plain facts
// that the Windows side gathers (Window/SelfCheckRun.cpp), so every wording can be tried without the
// driver, the network or a GPU. One line per check: "PASS name: detail", "FAIL name: detail" or
// "SKIP name: why". A check fails only for what keeps phones from playing; what the program works
// around (no share sheet, a slow paint that the window paces) passes and says so.

#include <cstdint>
#include <string>
#include <vector>

#include "Controllers/BusClient.h"
#include "Server/ServerCore.h"
#include "Shell/AddressOrder.h"
#include "Shell/FirewallCheck.h"

namespace Velotrix {

enum class CheckOutcome { Pass, Fail, Skip };

struct CheckLine {
    CheckOutcome outcome = CheckOutcome::Skip;
    std::string name;
    std::string detail; // UTF-8
};

// "PASS name: detail", without a line end.
std::string FormatCheckLine(const CheckLine& line);
// Every line, each ended by "\n".
std::string FormatCheckLines(const std::vector<CheckLine>& lines);
// 0 when no line failed, else 1.
int SelfCheckExitCode(const std::vector<CheckLine>& lines);

// The driver's steps in the order the self-check takes them; it stops at the first that fails.
enum class DriverStep { Find, Open, Plug, UserIndex, Report, Unplug };
struct DriverStepResult {
    DriverStep step = DriverStep::Find;
    BusResult result = ResultOk;
    // Find: the interfaces listed (none is the failure, whatever `result` says); Plug: the pad's
    // serial; UserIndex: the index. Unused otherwise.
    std::uint32_t value = 0;
    double milliseconds = 0;
};
CheckLine DriverCheck(const std::vector<DriverStepResult>& steps);

// The driver as the running server holds it, for the quick checks, which plug no pad.
CheckLine DriverStateCheck(BusState state, std::size_t interfaces);

struct SocketFacts {
    bool bound = false; // dual-stack, on the wildcard address
    std::uint16_t port = 0;
    bool ipv4Back = false; // a datagram to itself came back over 127.0.0.1
    double ipv4Milliseconds = 0;
    bool ipv6Back = false; // and over ::1
    double ipv6Milliseconds = 0;
};
CheckLine SocketCheck(const SocketFacts& facts);
// The running server's socket, for the quick checks.
CheckLine ServerSocketCheck(bool running, std::uint16_t port);

// `missing`: the DNS-SD functions not found in `library`; `libraryLoaded` false when it did not load.
CheckLine DnsSdCheck(const std::string& library, bool libraryLoaded, const std::vector<std::string>& missing);

CheckLine FirewallCheckOf(FirewallVerdict verdict, std::uint32_t failure, std::uint16_t port);

// One network adapter as the network check names it; text in UTF-8.
struct NetworkAdapter {
    std::string name;        // the friendly name Windows shows
    std::string description; // the driver's description ("Intel(R) Wi-Fi 6 AX201", "TAP-Windows Adapter V9")
    std::uint32_t type = 0;  // IANA ifType: 6 Ethernet, 71 Wi-Fi, 131 tunnel, ...
    bool up = false;
    bool loopback = false;
    std::vector<std::string> addresses; // IPv4, dotted decimal
    std::vector<std::string> gateways;
};
// The adapter's kind in words ("Wi-Fi", "Ethernet", "VPN", ...), with ", virtual" when its name or
// description says it is a virtual machine's, a container's or a tunnel's.
std::string AdapterKind(const NetworkAdapter& adapter);
// Every adapter that is up (loopback aside) with its kind, gateways and addresses, and the address
// the window shows with its adapter's name; fails when the window has no address to show.
CheckLine NetworkCheck(const std::vector<NetworkAdapter>& adapters, const std::string& shownAddress,
                       const std::string& shownAdapter);

// The nearest-rank percentile (0 < p <= 100) of `samples`; 0 for none.
double Percentile(std::vector<double> samples, double p);

struct PaintFacts {
    std::string target;  // the offscreen target painted into, in words; empty when none could be made
    std::string failure; // what failed, when something did
    int width = 0;
    int height = 0;
    std::vector<double> milliseconds; // one per paint, BeginDraw to EndDraw
    double budgetMilliseconds = 0;    // the window's repaint period
};
CheckLine PaintCheck(const PaintFacts& facts);
// The window's own last paint, for the quick checks.
CheckLine LastPaintCheck(double milliseconds, double budgetMilliseconds);

// `status`: the HRESULT of asking for the share sheet's interop.
CheckLine ShareCheck(std::uint32_t status);
CheckLine WindowsCheck(std::uint32_t major, std::uint32_t minor, std::uint32_t build);
CheckLine ProgramCheck(const std::string& version, const std::string& path);

} // namespace Velotrix
