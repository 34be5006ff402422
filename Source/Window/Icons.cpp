#include "Window/Icons.h"

namespace Velotrix {

int SmallIconSide(UINT dpi) { return GetSystemMetricsForDpi(SM_CXSMICON, dpi); }

int BigIconSide(UINT dpi) { return GetSystemMetricsForDpi(SM_CXICON, dpi); }

HICON LoadIconAtSide(HINSTANCE module, int side) {
    // Not LR_SHARED, which Windows rules out for other than the standard sizes; the owner destroys it.
    return static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, side, side, LR_DEFAULTCOLOR));
}

ProgramIcons LoadProgramIcons(HINSTANCE module, UINT dpi, IconLoader load) {
    ProgramIcons icons;
    icons.smallIcon.Reset(load(module, SmallIconSide(dpi)));
    icons.bigIcon.Reset(load(module, BigIconSide(dpi)));
    return icons;
}

} // namespace Velotrix
