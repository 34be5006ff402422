#include "Server/AdmissionRule.h"

namespace Velotrix {

PhoneState DecideAdmission(const AdmissionFacts& facts) {
    const bool admitAtOnce = !facts.askFirst || facts.allowed;
    if (!facts.known) {
        if (facts.active + facts.waiting >= MaxControllers) return PhoneState::NoRoom;
        if (!facts.busConnected) return PhoneState::NoDriver;
        // Every plug is a new device for Windows; beyond the rate the phone hears "no room" and is
        // decided again at its next Hello.
        if (admitAtOnce) return facts.plugAvailable ? PhoneState::Active : PhoneState::NoRoom;
        return PhoneState::Waiting;
    }
    const bool decideAgain =
        facts.current == PhoneState::NoRoom || (facts.current == PhoneState::NoDriver && facts.busConnected);
    if (!decideAgain || facts.active >= MaxControllers || !facts.busConnected) return facts.current;
    if (!admitAtOnce) return PhoneState::Waiting;
    return facts.plugAvailable ? PhoneState::Active : facts.current;
}

} // namespace Velotrix
