#pragma once

// The BSD socket API as each OS spells its headers. Winsock and the BSD sockets agree on the address
// structures and on inet_ntop, so the code that only handles addresses is written once, in
// UdpSocket.cpp; what differs (opening, options, closing, errors) stays in UdpSocket_win.cpp and
// UdpSocket_posix.cpp. Only those three files include this.

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif
