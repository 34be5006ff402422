#pragma once

// The program's two links. The QR code, the App Store button, the footer, the share sheet and the
// clipboard fallback all use these, so a phone that scans the code lands where the button goes.
// Here in Common, below the window and sharing alike: plain constants that need no OS, which any
// layer may include (scripts/make-qr reads the store link from this file too).

namespace Velotrix {

// The phone app's store page. Kept short on purpose: the QR code is version 3 (29 × 29) at error
// correction level M, which holds at most 42 bytes; scripts/make-qr makes the matrix from it.
inline constexpr char StoreLink[] = "https://apps.apple.com/app/id6741239571";
inline constexpr wchar_t StoreLinkWide[] = L"https://apps.apple.com/app/id6741239571";

// The product's web page, and the same address without its scheme as the footer shows it.
inline constexpr char WebLink[] = "https://velotrix.app";
inline constexpr wchar_t WebLinkWide[] = L"https://velotrix.app";
inline constexpr wchar_t WebLinkText[] = L"velotrix.app";

} // namespace Velotrix
