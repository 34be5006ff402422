// "Copy diagnostics": what a user sends when asking for help, gathered on the window's thread from
// quick checks only. Nothing here plugs a pad or paints: phones may be playing.

#include "Window/MainWindow.h"

#include <cstdio>

#include "Server/Server.h"
#include "Share/Share.h"
#include "Shell/Diagnostics.h"
#include "Shell/Settings.h"
#include "Shell/TextConversion.h"
#include "Version.h"
#include "Window/SelfCheckRun.h"

namespace Velotrix {

namespace {

const wchar_t CopiedTitle[] = L"Diagnostics copied";

// The whole of server.log as it stands; it is open for writing, which allows reading beside it.
std::string ReadLog() {
    const std::wstring folder = LogFolder();
    if (folder.empty()) return {};
    std::FILE* file = _wfopen((folder + L"\\server.log").c_str(), L"rb");
    if (file == nullptr) return {};
    std::string text;
    char buffer[16384];
    for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, read);
    std::fclose(file);
    return text;
}

std::string LocalDateTime() {
    SYSTEMTIME now{};
    GetLocalTime(&now);
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u", now.wYear, now.wMonth, now.wDay, now.wHour,
                  now.wMinute, now.wSecond);
    return text;
}

// Notepad and mail programs want CR LF between lines.
std::wstring WithWindowsLineEnds(const std::wstring& text) {
    std::wstring converted;
    converted.reserve(text.size() + text.size() / 16);
    for (const wchar_t c : text) {
        if (c == L'\n') converted += L'\r';
        converted += c;
    }
    return converted;
}

} // namespace

void MainWindow::CopyDiagnostics() {
    DiagnosticsInput input;
    input.version = VELOTRIX_VERSION;
    input.when = LocalDateTime();
    input.checks = {
        RunProgramCheck(),
        RunWindowsCheck(),
        DriverStateCheck(server.Bus(), ListedDriverInterfaces()),
        startError.empty() ? ServerSocketCheck(server.Running(), server.Port())
                           : CheckLine{CheckOutcome::Fail, "socket", startError},
        RunDnsSdCheck(),
        // The window's last connection check: probing again would block this thread on COM.
        FirewallCheckOf(firewall.verdict, firewall.failure, server.Port()),
        RunNetworkCheck(),
        RunShareCheck(),
        LastPaintCheck(static_cast<double>(timer.pacing.lastCost) / 1e6, RepaintPeriodMs),
    };
    input.phones = server.Snapshot();
    input.settings = settings;
    input.port = server.Port();
    input.logLines = LastLines(ReadLog(), DiagnosticsLogLines);
    const std::string text = DiagnosticsText(input);

    const std::wstring path = WriteBesideLog(DiagnosticsFileName, text);
    const bool copied = CopyToClipboard(hwnd, WithWindowsLineEnds(ToUtf16(text)));
    if (copied && !path.empty()) {
        ShowBalloon(CopiedTitle,
                    L"On the clipboard and in " + path + L". Paste them into your message when you ask for help.");
    } else if (copied) {
        ShowBalloon(CopiedTitle, L"On the clipboard (no file could be written). Paste them into your message.");
    } else if (!path.empty()) {
        ShowBalloon(L"Diagnostics saved", L"The clipboard was busy; they are in " + path + L".");
    } else {
        ShowBalloon(L"Diagnostics not copied", L"Neither the clipboard nor the log folder could be written.");
    }
}

} // namespace Velotrix
