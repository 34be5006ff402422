#pragma once

// What this PC is called, as the phones list it and the window shows it.

#include <string>

namespace Velotrix {

// The DNS host name, else the NetBIOS name, else "PC"; never empty. Keeps no state.
std::wstring ComputerName();

} // namespace Velotrix
