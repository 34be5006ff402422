#include "Phone.h"

#include <algorithm>

namespace Velotrix {

std::vector<std::string> PrepareConsole(int argc, char** argv) {
    return std::vector<std::string>(argv + std::min(argc, 1), argv + argc);
}

} // namespace Velotrix
