// What the window does when the world around the program changes: this PC's addresses move under it,
// or Windows ends the session.

#include "Window/MainWindow.h"

#include <utility>

#include "Shell/Log.h"

namespace Velotrix {

void MainWindow::PostNetworkChanged() {
    if (HWND target = postTarget.load()) PostMessageW(target, WM_APP_NETWORK_CHANGED, 0, 0);
}

void MainWindow::OnNetworkChanged() {
    // Demo mode shows made-up addresses on purpose.
    if (demo || !readAddresses) return;
    std::vector<LocalAddress> now = readAddresses();
    const std::string before = addresses.empty() ? std::string() : addresses.front().address;
    const std::string after = now.empty() ? std::string() : now.front().address;
    addresses = std::move(now);
    // One change arrives as a burst of notifications; only a new first address is announced again.
    if (after != before) {
        Log("Network: best address now %s", after.empty() ? "none" : after.c_str());
        if (onAddressChanged) onAddressChanged(after);
    }
    Repaint();
}

void MainWindow::OnEndSession(bool ending) {
    // False: another program refused, and the session goes on.
    if (!ending) return;
    if (onEndSession) onEndSession();
    // Windows ends the process soon anyway; should it not, the program ends as after "Quit".
    DestroyWindow(hwnd);
}

} // namespace Velotrix
