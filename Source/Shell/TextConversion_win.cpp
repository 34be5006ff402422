#include "Shell/TextConversion.h"

#include <windows.h>

#include <climits>

namespace Velotrix {

std::string ToUtf8(const std::wstring& text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int inputLength = static_cast<int>(text.size());
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), inputLength, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string result(static_cast<size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), inputLength, result.data(), length, nullptr, nullptr);
    return result;
}

std::wstring ToUtf16(const std::string& text) {
    if (text.empty() || text.size() > INT_MAX) return {};
    const int inputLength = static_cast<int>(text.size());
    const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), inputLength, nullptr, 0);
    if (length <= 0) return {};
    std::wstring result(static_cast<size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), inputLength, result.data(), length);
    return result;
}

} // namespace Velotrix
