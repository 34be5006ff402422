// The receipt checks and every datagram reader on raw bytes, with no server behind them, so that it
// runs a hundred thousand inputs a second and more. Whatever the bytes:
//   - nothing is read outside them (the sanitizers watch);
//   - the checks and the readers agree: a datagram the checks accept is readable by its type's
//     reader, and one they drop for its length is not;
//   - what a reader took out, built again, gives the same bytes back (the wire layout has one
//     meaning in each direction).
// A broken rule aborts with the rule's text on standard error.

#include "Server/Protocol.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

using namespace Velotrix;

void Require(bool holds, const char* what) {
    if (holds) return;
    std::fprintf(stderr, "ProtocolFuzz: %s\n", what);
    std::abort();
}

// The rebuilt datagram equals the first `length` received bytes, except those in `ignored`.
void RequireSame(DatagramBytes received, DatagramBytes rebuilt, int length, const char* what, int ignored = -1) {
    Require(length > 0 && static_cast<std::size_t>(length) <= received.size(), what);
    for (int i = 0; i < length; ++i) {
        if (i != ignored) Require(received[static_cast<std::size_t>(i)] == rebuilt[static_cast<std::size_t>(i)], what);
    }
}

void ServerSide(DatagramBytes datagram, Receipt receipt, bool hasHeader, const Header& header) {
    std::uint8_t rebuilt[HelloMinimum + MaxNameLength];
    HelloDatagram hello;
    InputDatagram input;
    std::uint32_t session = 0;
    const bool helloRead = ReadHello(datagram, hello);
    const bool inputRead = ReadInput(datagram, input);
    const bool byeRead = ReadBye(datagram, session);
    switch (receipt) {
    case Receipt::Hello: {
        Require(helloRead, "a checked Hello does not read");
        const int length = BuildHello(rebuilt, header.version, header.sequence, hello.id, hello.name);
        RequireSame(datagram, rebuilt, length, "a Hello built again differs");
        break;
    }
    case Receipt::Input: {
        Require(inputRead && input.sequence == header.sequence, "a checked Input does not read");
        RequireSame(datagram, rebuilt, BuildInput(rebuilt, header.version, input), "an Input built again differs");
        break;
    }
    case Receipt::Bye:
        Require(byeRead, "a checked Bye does not read");
        RequireSame(datagram, rebuilt, BuildBye(rebuilt, header.version, header.sequence, session),
                    "a Bye built again differs");
        break;
    case Receipt::OtherVersion:
        Require(hasHeader && header.version != ProtocolVersion, "another version without a header");
        break;
    case Receipt::Drop:
        if (!hasHeader || header.version != ProtocolVersion || datagram.size() > MaxDatagram) break;
        if (header.type == static_cast<std::uint8_t>(DatagramType::Hello)) Require(!helloRead, "a dropped Hello reads");
        if (header.type == static_cast<std::uint8_t>(DatagramType::Input)) Require(!inputRead, "a dropped Input reads");
        if (header.type == static_cast<std::uint8_t>(DatagramType::Bye)) Require(!byeRead, "a dropped Bye reads");
        break;
    }
}

void PhoneSide(DatagramBytes datagram) {
    std::uint8_t rebuilt[MaxOutgoing];
    StatusDatagram status;
    if (ReadStatus(datagram, status) && ShortenedNameLength(status.hostName) == status.hostName.size()) {
        const int length = BuildStatus(rebuilt, status.sequence, status.sessionId, status.player,
                                       static_cast<PhoneState>(status.state), status.hostName);
        // The version byte is not the reader's business; the builder always writes its own.
        RequireSame(datagram, rebuilt, length, "a Status built again differs", 4);
    }
    FeedbackDatagram feedback;
    if (ReadFeedback(datagram, feedback)) {
        const int length = BuildFeedback(rebuilt, feedback.sequence, feedback.sessionId, feedback.largeMotor,
                                         feedback.smallMotor, feedback.led, feedback.echo);
        // Byte 15 is reserved: the server writes 0 and the phone ignores it. Byte 4 as above.
        for (int i : {4, 15}) rebuilt[i] = datagram[static_cast<std::size_t>(i)];
        RequireSame(datagram, rebuilt, length, "a Feedback built again differs");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const DatagramBytes datagram(data, size);
    const Receipt receipt = CheckDatagram(datagram);
    Header header;
    const bool hasHeader = ReadHeader(datagram, header);
    Require(receipt == Receipt::Drop || hasHeader, "an accepted datagram without a header");
    ServerSide(datagram, receipt, hasHeader, header);
    PhoneSide(datagram);
    return 0;
}
