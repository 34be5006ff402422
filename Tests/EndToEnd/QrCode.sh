#!/usr/bin/env bash
# The QR code as a phone camera meets it: the Windows test program paints the pages that show the
# code (through Direct2D into PNG files), and zbarimg must read exactly the store link from each.
source "$(dirname "$0")/common.bash"

# VELOTRIX_WINTESTS may name another build's test program.
tests=${VELOTRIX_WINTESTS:-$EXE_DIR/Tests/velotrix_wintests.exe}
[ -f "$tests" ] || { fail "$tests is not built"; finish; }
store_link=$(sed -n 's/^inline constexpr char StoreLink\[\] = "\(.*\)";$/\1/p' "$ROOT/Source/Common/Links.h")
check "the store link is found in Links.h" test -n "$store_link"

pictures=$(mktemp -d)
trap 'cleanup; rm -rf "$pictures"' EXIT
start_display
(cd "$(dirname "$tests")" && VELOTRIX_PICTURES="$pictures" timeout 300 \
  wine "./$(basename "$tests")" --gtest_filter='PaintTest.PicturesOfEveryState*') >"$pictures/run.log" 2>&1
check "the pictures were painted" grep -q '\[  PASSED  \] 1 test' "$pictures/run.log"

for page in empty-state driver-missing server-failed; do
  read_back=$(zbarimg -q --raw "$pictures/$page.png" 2>/dev/null)
  check "$page.png scans to the store link" test "$read_back" = "$store_link"
done
# Pages with a phone show no code.
check "a page with phones has no code" test -z "$(zbarimg -q --raw "$pictures/active.png" 2>/dev/null)"
finish
