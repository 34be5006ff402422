#include "Window/SelfCheckRun.h"

#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "Controllers/BusClient.h"
#include "Platform/ComApartment.h"
#include "Platform/DriverIo.h"
#include "Platform/Os.h"
#include "Platform/ProcAddress.h"
#include "Platform/UdpSocket.h"
#include "Server/Advertiser.h"
#include "Share/Share.h"
#include "Shell/LocalAddresses.h"
#include "Shell/ModulePath.h"
#include "Shell/TextConversion.h"
#include "Version.h"
#include "Window/DemoPage.h"
#include "Window/DrawingResources.h"
#include "Window/Firewall.h"
#include "Window/OffscreenTarget.h"
#include "Window/WindowRules.h"

namespace Velotrix {

namespace {

constexpr int PaintCount = 60;
// Windows gives a new pad its user index a moment after it is ready; the server asks every 500 ms.
constexpr std::int64_t UserIndexWaitNs = 2'000'000'000;
constexpr std::chrono::milliseconds UserIndexPoll{20};
// Loopback answers at once; this only bounds a stack that drops the datagram.
constexpr std::int64_t LoopbackWaitNs = 1'000'000'000;

double MillisecondsSince(std::int64_t start) { return static_cast<double>(SteadyNow() - start) / 1e6; }

std::string Hex(HRESULT code) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(code));
    return text;
}

// Runs one driver step, timed, and records it; true when it went well.
template <typename Step>
bool Timed(std::vector<DriverStepResult>& steps, DriverStep step, Step&& run) {
    const std::int64_t start = SteadyNow();
    std::uint32_t value = 0;
    const BusResult result = run(value);
    steps.push_back({step, result, value, MillisecondsSince(start)});
    return result == ResultOk && !(step == DriverStep::Find && value == 0);
}

// Sends a datagram to itself at the loopback of one family and waits for it; the time it took, or a
// negative number when it did not come back.
double Loopback(UdpSocket& socket, bool ipv6) {
    const std::uint16_t port = socket.LocalPort();
    const SocketAddress to = ipv6 ? LoopbackAddress(true, port) : MapToIpv6(LoopbackAddress(false, port));
    std::uint8_t sent[16] = {'V', 'e', 'l', 'o', 't', 'r', 'i', 'x', ipv6 ? std::uint8_t('6') : std::uint8_t('4')};
    const std::int64_t start = SteadyNow();
    std::memcpy(sent + 9, &start, 7);
    socket.SendTo(sent, sizeof sent, to);
    std::uint8_t received[sizeof sent + 1];
    while (SteadyNow() - start < LoopbackWaitNs) {
        SocketAddress from;
        // Anything else that reaches the free port is not the datagram looked for.
        if (socket.Receive(received, sizeof received, from) == sizeof sent &&
            std::memcmp(received, sent, sizeof sent) == 0)
            return MillisecondsSince(start);
    }
    return -1;
}

} // namespace

std::size_t ListedDriverInterfaces() { return ListDriverDevicePaths().size(); }

CheckLine RunDriverCheck() {
    std::vector<DriverStepResult> steps;
    if (!Timed(steps, DriverStep::Find, [](std::uint32_t& found) {
            found = static_cast<std::uint32_t>(ListedDriverInterfaces());
            return ResultOk;
        }))
        return DriverCheck(steps);
    BusConnection bus;
    if (!Timed(steps, DriverStep::Open, [&bus](std::uint32_t&) { return bus.Open(); })) return DriverCheck(steps);
    // No notification is registered on it, so no thread of the client holds it: it may go with this frame.
    const std::unique_ptr<PadTarget> target = AllocTarget();
    if (!target) return DriverCheck(steps);
    if (!Timed(steps, DriverStep::Plug, [&](std::uint32_t& serial) {
            const BusResult plugged = bus.PlugTarget(*target);
            serial = target->serial;
            return plugged;
        }))
        return DriverCheck(steps);
    const bool indexed = Timed(steps, DriverStep::UserIndex, [&](std::uint32_t& index) {
        const std::int64_t start = SteadyNow();
        BusResult result = bus.GetUserIndex(*target, index);
        while (result == ErrUserIndexRange && SteadyNow() - start < UserIndexWaitNs) {
            std::this_thread::sleep_for(UserIndexPoll);
            result = bus.GetUserIndex(*target, index);
        }
        return result;
    });
    if (indexed) {
        (void)Timed(steps, DriverStep::Report,
                    [&](std::uint32_t&) { return bus.SubmitReport(*target, ControllerReport{}); });
    }
    // Whatever failed after the plug, the pad goes again: the line names only the first failure.
    (void)Timed(steps, DriverStep::Unplug, [&](std::uint32_t&) { return bus.UnplugTarget(*target); });
    return DriverCheck(steps);
}

CheckLine RunSocketCheck() {
    SocketFacts facts;
    UdpSocket socket;
    facts.bound = socket.OpenServer(0) == SocketResult::Ok;
    if (facts.bound) {
        facts.port = socket.LocalPort();
        const double ipv4 = Loopback(socket, false);
        const double ipv6 = Loopback(socket, true);
        facts.ipv4Back = ipv4 >= 0;
        facts.ipv4Milliseconds = ipv4;
        facts.ipv6Back = ipv6 >= 0;
        facts.ipv6Milliseconds = ipv6;
    }
    return SocketCheck(facts);
}

CheckLine RunDnsSdCheck() {
    std::vector<std::string> missing;
    const bool loaded = Advertiser::FindFunctions(L"dnsapi.dll", missing);
    return DnsSdCheck("dnsapi.dll", loaded, missing);
}

CheckLine RunFirewallCheck(std::uint16_t port) {
    const FirewallFacts facts = ProbeFirewall(port);
    return FirewallCheckOf(JudgeFirewall(facts), facts.failure, port);
}

CheckLine RunNetworkCheck() {
    std::vector<AdapterFacts> listed;
    std::uint32_t bestIndex = 0;
    if (!ListAdapters(listed, bestIndex)) return {CheckOutcome::Fail, "network", "Windows could not list the adapters"};
    std::vector<NetworkAdapter> adapters;
    std::vector<AdapterInfo> infos;
    for (const AdapterFacts& facts : listed) {
        NetworkAdapter adapter{ToUtf8(facts.adapter.friendlyName),
                               ToUtf8(facts.description),
                               facts.type,
                               facts.adapter.up,
                               facts.adapter.softwareLoopback,
                               {},
                               {}};
        for (const Ipv4Address& address : facts.adapter.addresses) adapter.addresses.push_back(FormatIpv4(address));
        for (const Ipv4Address& gateway : facts.gateways) adapter.gateways.push_back(FormatIpv4(gateway));
        adapters.push_back(std::move(adapter));
        infos.push_back(facts.adapter);
    }
    // The window's own rule picks what it shows.
    const std::vector<LocalAddress> shown = OrderLocalAddresses(infos, bestIndex);
    if (shown.empty()) return NetworkCheck(adapters, "", "");
    return NetworkCheck(adapters, shown.front().address, ToUtf8(shown.front().interfaceName));
}

CheckLine RunPaintCheck() {
    PaintFacts facts;
    facts.budgetMilliseconds = RepaintPeriodMs;
    constexpr float scale = 1.0f;
    const PageInput page = DemoPageWithFourPhones(scale);
    facts.width = static_cast<int>(page.width);
    facts.height = static_cast<int>(page.height);

    DrawingResources drawing;
    if (!CreateDeviceIndependentResources(drawing, scale)) {
        facts.failure = "no Direct2D or DirectWrite factory";
        return PaintCheck(facts);
    }
    OffscreenTarget offscreen;
    HRESULT made = CreateTextureTarget(drawing.d2dFactory.get(), static_cast<UINT>(facts.width),
                                       static_cast<UINT>(facts.height), offscreen);
    if (FAILED(made)) {
        ComPtr<IWICImagingFactory> wic;
        const HRESULT wicMade = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                                 IID_IWICImagingFactory, reinterpret_cast<void**>(wic.Put()));
        const HRESULT bitmapMade =
            FAILED(wicMade) ? wicMade
                            : CreateBitmapTarget(wic.get(), drawing.d2dFactory.get(), static_cast<UINT>(facts.width),
                                                 static_cast<UINT>(facts.height), offscreen);
        if (FAILED(bitmapMade)) {
            facts.failure = "no Direct3D 11 texture (" + Hex(made) + ") and no WIC bitmap (" + Hex(bitmapMade) + ")";
            return PaintCheck(facts);
        }
    }
    ComPtr<ID2D1SolidColorBrush> brush;
    if (!CreatePaintBrush(*offscreen.target.get(), brush)) {
        facts.failure = "no brush";
        return PaintCheck(facts);
    }
    facts.target = ToUtf8(offscreen.kind);
    std::vector<ClickRegion> regions;
    for (int paint = 0; paint < PaintCount; ++paint) {
        const std::int64_t start = SteadyNow();
        PaintContext context = MakePaintContext(drawing, offscreen.target.get(), brush.get(), scale);
        context.regions = &regions;
        offscreen.target->BeginDraw();
        (void)PaintPage(context, page);
        const HRESULT drawn = offscreen.target->EndDraw();
        if (FAILED(drawn)) {
            facts.failure = "EndDraw failed (" + Hex(drawn) + ")";
            break;
        }
        facts.milliseconds.push_back(MillisecondsSince(start));
    }
    return PaintCheck(facts);
}

CheckLine RunShareCheck() { return ShareCheck(static_cast<std::uint32_t>(FindShareSheet())); }

CheckLine RunWindowsCheck() {
    // GetVersionEx answers what the manifest allows; ntdll's answer is the system's own.
    using GetVersion = LONG(WINAPI*)(OSVERSIONINFOW*);
    const auto getVersion = LookupFunction<GetVersion>(GetModuleHandleW(L"ntdll.dll"), "RtlGetVersion");
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (getVersion == nullptr || getVersion(&version) != 0)
        return {CheckOutcome::Skip, "Windows", "its version could not be read"};
    return WindowsCheck(version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);
}

CheckLine RunProgramCheck() { return ProgramCheck(VELOTRIX_VERSION, ToUtf8(ModulePath())); }

std::wstring WriteBesideLog(const wchar_t* name, const std::string& text) {
    const std::wstring folder = LogFolder();
    if (folder.empty()) return {};
    const std::wstring path = folder + L"\\" + name;
    // Text mode: lines end in CR LF, as server.log's do, for Notepad.
    std::FILE* file = _wfopen(path.c_str(), L"w");
    if (file == nullptr) return {};
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    const bool closed = std::fclose(file) == 0;
    return written && closed ? path : std::wstring();
}

int RunSelfCheck(std::uint16_t port) {
    // Multithreaded, which the firewall's probe asks for as well; WIC and Direct2D take either.
    const ComApartment com(COINIT_MULTITHREADED);
    std::vector<CheckLine> lines;
    lines.push_back(RunProgramCheck());
    lines.push_back(RunWindowsCheck());
    lines.push_back(RunDriverCheck());
    lines.push_back(RunSocketCheck());
    lines.push_back(RunDnsSdCheck());
    lines.push_back(RunFirewallCheck(port));
    lines.push_back(RunNetworkCheck());
    lines.push_back(RunShareCheck());
    lines.push_back(RunPaintCheck());
    const std::string text = FormatCheckLines(lines);
    // Also to the debugger output: a user without the folder still has something to look at.
    WriteDebugOutput(text.c_str());
    if (WriteBesideLog(SelfCheckFileName, text).empty()) return 1;
    return SelfCheckExitCode(lines);
}

} // namespace Velotrix
