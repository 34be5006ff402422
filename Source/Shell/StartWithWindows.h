#pragma once

// Whether the program starts, hidden in the notification area, when the user signs in: one value
// "Velotrix" under the current user's Run key, which is the only record of the option.

namespace Velotrix {

// True when the Run key holds a REG_SZ value "Velotrix", whatever path it names.
bool IsStartWithWindows();

// True writes the value ("<program path>" --tray), false deletes it. Answers whether the Run key now
// says so (a value already gone counts); a Run key that cannot be opened is left as it is.
[[nodiscard]] bool SetStartWithWindows(bool enabled);

} // namespace Velotrix
