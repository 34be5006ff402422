#pragma once

// The program's icon at the sizes Windows shows it for a DPI, each taken from the icon's own frame of
// that size rather than a larger frame shrunk.

#include <windows.h>

#include "Platform/WinHandles.h"

namespace Velotrix {

// Sides in pixels at `dpi`: the small icon (caption, taskbar, notification area) and the big one
// (Alt+Tab), as Windows' metrics give them for that DPI.
int SmallIconSide(UINT dpi);
int BigIconSide(UINT dpi);

// Icon resource 1 of `module` at `side` × `side` pixels; null when the module has none.
using IconLoader = HICON (*)(HINSTANCE module, int side);
HICON LoadIconAtSide(HINSTANCE module, int side);

struct ProgramIcons {
    UniqueIcon smallIcon;
    UniqueIcon bigIcon;
};
// Both icons for a window at `dpi`; either may be null.
ProgramIcons LoadProgramIcons(HINSTANCE module, UINT dpi, IconLoader load = &LoadIconAtSide);

} // namespace Velotrix
