#include "Platform/UdpSocket.h"

namespace Velotrix {

std::string FormatAddress(const SocketAddress& address) {
    const std::string host = AddressText(address);
    const std::string port = std::to_string(AddressPort(address));
    return host.find(':') != std::string::npos ? "[" + host + "]:" + port : host + ":" + port;
}

} // namespace Velotrix
