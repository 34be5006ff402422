#pragma once

// Passing the program's two links on: the Windows share sheet for a window, and the clipboard for
// where there is no share sheet. Everything here runs on the user-interface thread.

#include <windows.h>

#include <string>

#include "Share/DataTransfer.h"

namespace Velotrix {

inline constexpr wchar_t ShareTitle[] = L"Velotrix";
inline constexpr wchar_t ShareDescription[] = L"An iPhone as a racing wheel for PC games";
inline constexpr wchar_t LinkCopiedTitle[] = L"Link copied";

// The text the share sheet passes on, with both links.
std::wstring ShareText();
// The balloon's body after the web link was copied.
std::wstring LinkCopiedText();

// Opens the share sheet for `window`, filled by the DataRequested handler. The sheet's factory and
// the window's manager are kept until EndSharing, and the handler is added once. True when
// the sheet was shown; otherwise logs "Share sheet: 0x%08x %s" with the failing call's code and the
// system's text for it, and answers false (a manager that was not obtained is asked for next time).
[[nodiscard]] bool ShareLinks(HWND window);

// Whether this Windows offers the share sheet: S_OK when its desktop interop can be had (it is let go
// again at once), else the failing result; ShareLinks then fails the same way.
HRESULT FindShareSheet();

// Gives back what ShareLinks kept; call it before COM is uninitialised on this thread.
void EndSharing();

// What the DataRequested handler does with a request: the package's title, description, web link and
// text, in that order. The web link is left out when no Windows.Foundation.Uri can be made. Answers
// the first failure of getting the package or its properties, else S_OK.
HRESULT FillShareRequest(IDataRequestedEventArgs* args);

// Replaces the clipboard's contents with `text` as Unicode text. False only when the clipboard could
// not be opened, and then nothing changed; when the memory cannot be had the clipboard is left empty.
[[nodiscard]] bool CopyToClipboard(HWND owner, const std::wstring& text);

} // namespace Velotrix
