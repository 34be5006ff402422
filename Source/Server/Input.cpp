// An admitted phone's Input datagrams drive its virtual pad. This path runs for every datagram of
// every phone, so it allocates nothing and logs nothing.

#include "Controllers/InputMapping.h"
#include "Server/ServerCore.h"

namespace Velotrix {

void ServerCore::HandleInput(DatagramBytes bytes, const SocketAddress& from, std::int64_t now) {
    InputDatagram datagram;
    if (!ReadInput(bytes, datagram)) return;
    Phone* phone = FindBySession(datagram.state.sessionId);
    if (phone == nullptr) {
        // Each answer is a send: a stream of made-up session numbers gets a few, then silence.
        if (!MayAnswer(from, now)) {
            Refuse(from, now);
            return;
        }
        SendUnknownSession(from);
        return;
    }
    // Even a phone that is not admitted stays listed while it streams.
    phone->lastHeard = now;
    if (phone->state != PhoneState::Active || phone->pad == nullptr) return;
    if (phone->haveSequence && !IsNewerSequence(datagram.sequence, phone->lastSequence)) {
        phone->link.ArrivedLate(datagram.sequence);
        return;
    }

    phone->haveSequence = true;
    phone->lastSequence = datagram.sequence;
    phone->address = from;
    phone->link.Arrived(datagram.sequence, now);

    phone->input = datagram.state;
    phone->lastInput = now;
    phone->idle = false;
    ++phone->inputCount;

    Heard(bus.SubmitReport(*phone->pad->target, MapInput(phone->input)), now);
}

} // namespace Velotrix
