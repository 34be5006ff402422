#pragma once

// The page as "--demo" shows it with four phones at play: made-up names and addresses, every phone
// Active with live controls and some rumble. The self-check times its paint; the paint tests measure
// it the same way.

#include "Window/Page.h"

namespace Velotrix {

// At `scale`, in the window's first client size for that scale.
PageInput DemoPageWithFourPhones(float scale);

} // namespace Velotrix
