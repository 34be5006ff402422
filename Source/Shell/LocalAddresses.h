#pragma once

// Under which IPv4 addresses the phones can reach this PC, read from Windows' adapter list; which of
// them count, and in what order, is OrderLocalAddresses' portable rule.

#include <vector>

#include "Shell/AddressOrder.h"

namespace Velotrix {

// This PC's usable IPv4 addresses (see OrderLocalAddresses), those of the interface toward the
// internet first. Empty without a network, or when Windows cannot list the adapters. Keeps no state.
std::vector<LocalAddress> LocalAddresses();

// Every adapter Windows lists, in its order, with its kind, description and IPv4 gateways, and the
// index of the interface toward the internet (0 when there is no route). False when Windows cannot
// list them.
[[nodiscard]] bool ListAdapters(std::vector<AdapterFacts>& adapters, std::uint32_t& bestInterfaceIndex);

} // namespace Velotrix
