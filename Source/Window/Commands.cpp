// What a click on the painted page does: one sequence of calls per action.

#include "Window/MainWindow.h"

#include <shellapi.h>

#include "Server/Server.h"
#include "Shell/CrashReport.h"
#include "Shell/Log.h"
#include "Share/Share.h"
#include "Shell/Settings.h"
#include "Shell/StartWithWindows.h"
#include "Window/DriverInstall.h"
#include "Common/Links.h"

namespace Velotrix {

namespace {

// The page where Windows lets the user mark the current network Private.
constexpr wchar_t NetworkSettingsLink[] = L"ms-settings:network-status";

void OpenLink(HWND owner, const wchar_t* link) { ShellExecuteW(owner, L"open", link, nullptr, nullptr, SW_SHOWNORMAL); }

} // namespace

void MainWindow::ShareOrCopyLinks() {
    if (ShareLinks(hwnd)) return;
    if (!CopyToClipboard(hwnd, WebLinkWide)) return;
    ShowBalloon(LinkCopiedTitle, LinkCopiedText());
}

void MainWindow::OnClick(const ClickRegion& region) {
    // The session number travels in the region as its 32 bits.
    const auto sessionId = static_cast<std::uint32_t>(region.arg);
    switch (static_cast<ClickAction>(region.action)) {
    case ClickAction::InstallDriver:
        // The installer or the browser shows itself; a failure to start either has nothing to show.
        (void)RunDriverInstaller(hwnd);
        break;
    case ClickAction::AllowPhone:
        server.Allow(sessionId);
        // onAllowedChanged has saved the list already when the phone was admitted; saving here as well
        // keeps the registry right even when that callback is not set, and costs one write.
        settings.allowed = server.AllowedList();
        if (!SaveSettings(settings)) Log("Settings: could not save the allowed phones");
        break;
    case ClickAction::DenyPhone:
        server.Deny(sessionId);
        break;
    case ClickAction::DisconnectPhone:
        // It also leaves the remembered phones; saved here as after Allow.
        server.Disconnect(sessionId);
        if (settings.allowed != server.AllowedList()) {
            settings.allowed = server.AllowedList();
            if (!SaveSettings(settings)) Log("Settings: could not save the allowed phones");
        }
        break;
    case ClickAction::ForgetPhone: {
        // The row's index among the phones the last paint listed, which is what the user saw.
        const auto& rows = page.lastPainted.remembered;
        if (region.arg < 0 || static_cast<std::size_t>(region.arg) >= rows.size()) break;
        const std::string id = rows[static_cast<std::size_t>(region.arg)].idText;
        (void)server.Forget(id);
        settings.allowed = server.AllowedList();
        settings.remembered.erase(id);
        if (!SaveSettings(settings)) Log("Settings: could not save the allowed phones");
        break;
    }
    // An option shows its new position only once it is stored: after a failed write it stays as it
    // was, so the window never shows a choice the next start would not find.
    case ClickAction::ToggleAskFirst:
        settings.askFirst = !settings.askFirst;
        if (!SaveSettings(settings)) {
            settings.askFirst = !settings.askFirst;
            Log("Settings: could not save AskFirst");
        }
        server.SetAskFirst(settings.askFirst);
        break;
    case ClickAction::ToggleStartWithWindows:
        // The Run value is the option's only record, so the settings are not saved.
        if (SetStartWithWindows(!startWithWindows)) {
            startWithWindows = !startWithWindows;
        } else {
            Log("Start with Windows: could not change the Run value");
        }
        break;
    case ClickAction::ToggleKeepInTray:
        settings.keepInTray = !settings.keepInTray;
        if (!SaveSettings(settings)) {
            settings.keepInTray = !settings.keepInTray;
            Log("Settings: could not save KeepInTray");
        }
        break;
    case ClickAction::OpenAppStore:
        OpenLink(hwnd, StoreLinkWide);
        break;
    case ClickAction::OpenWebPage:
        OpenLink(hwnd, WebLinkWide);
        break;
    case ClickAction::ShareAppLinks:
        ShareOrCopyLinks();
        break;
    case ClickAction::AddFirewallRule:
        if (!firewall.ruleRequestOut) CheckFirewall(true);
        break;
    case ClickAction::OpenNetworkSettings:
        OpenLink(hwnd, NetworkSettingsLink);
        break;
    case ClickAction::OpenCrashReports:
        // Seen: the notice has done its work.
        OpenLink(hwnd, CrashFolder().c_str());
        crashNotice.clear();
        break;
    case ClickAction::CopyDiagnostics:
        CopyDiagnostics();
        break;
    default:
        // Not an action this program draws; the click handler's repaint is all that happens.
        break;
    }
}

} // namespace Velotrix
