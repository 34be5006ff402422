#pragma once

// Who gets a controller: the state a Hello leaves a phone in, decided from plain facts about the
// table, the driver, the user's options and the pad-plug rate. Pure, so that every combination is a
// row of a table test.

#include "Server/Protocol.h"

#include <string>
#include <string_view>

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
    // The user turned the id away in this run (Deny or Disconnect) and has not allowed it since.
    bool refused = false;
    // The pad-plug rate would grant a plug now (the caller takes it when the answer is Active).
    bool plugAvailable = false;
};

// A new phone: refused when the user turned it away in this run, no room when four are Active or
// Waiting already, no driver without the bus, admitted at once when the user does not ask first or
// approved it before (if a plug is available, else no room until its next Hello), otherwise waiting.
// A known phone keeps its state, except that one turned away for room, or for a driver that has since
// connected, is decided again: admitted while fewer than four are Active, waiting only while the
// Active and Waiting phones together leave room (else it stays where it was).
PhoneState DecideAdmission(const AdmissionFacts& facts);

// What a phone's name may carry into the log, the balloon, the rows and the dev server's JSON: the
// C0 and C1 controls, DEL, the bidirectional embeddings, overrides and isolates (U+202A to U+202E,
// U+2066 to U+2069) and the line and paragraph separators (U+2028, U+2029) each become U+FFFD, the
// replacement character, and so does every byte that starts no valid UTF-8 sequence (an overlong
// form, a surrogate, a code point past U+10FFFF, a sequence cut short). Everything else is kept.
std::string CleanName(std::string_view raw);

} // namespace Velotrix
