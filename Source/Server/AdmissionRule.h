#pragma once

// Who gets a controller: the state a Hello leaves a phone in, decided from plain facts about the
// table, the driver, the user's options and the pad-plug rate. Pure, so that every combination is a
// row of a table test.

#include "Server/Protocol.h"

namespace Velotrix {

// XInput has four slots, so Windows offers games four controllers at most.
inline constexpr int MaxControllers = 4;

struct AdmissionFacts {
    // Whether the id has a record already, and if so its state.
    bool known = false;
    PhoneState current = PhoneState::Waiting;
    // The other phones of the table.
    int active = 0;
    int waiting = 0;
    bool busConnected = false;
    bool askFirst = true;
    // The id is among the phones the user approved.
    bool allowed = false;
    // The pad-plug rate would grant a plug now (the caller takes it when the answer is Active).
    bool plugAvailable = false;
};

// A new phone: no room when four are Active or Waiting already, no driver without the bus, admitted at
// once when the user does not ask first or approved it before (if a plug is available, else no room
// until its next Hello), otherwise waiting. A known phone keeps its state, except that one turned away
// for room, or for a driver that has since connected, is decided again against the Active phones
// alone.
PhoneState DecideAdmission(const AdmissionFacts& facts);

} // namespace Velotrix
