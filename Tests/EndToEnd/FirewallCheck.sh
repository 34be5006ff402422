#!/usr/bin/env bash
# The connection check of a real Velotrix.exe under Wine. Wine's firewall cannot tell the current
# network's profile, so the check cannot tell and the status card stays as it was. Then a stand-in for
# the firewall's policy objects (Tests/Support/FirewallPolicy) takes the place of Wine's in the prefix:
# a Private network with the firewall on and no rule for Velotrix. The card warns, "Allow phones" runs
# the program's own elevated copy, whose rule lands in the stand-in's table, and the next check finds
# the phones let in. On a Public network the card points to the network settings instead.
source "$(dirname "$0")/common.bash"

# Pixels in the warning's orange (#FFBA4D) in the main window; fails when there is no window or no
# picture of it, which is not the same as none.
warning_pixels() {
  local window
  take_window window || return 1
  (set -o pipefail; x_import -window "$window" -depth 8 txt:- 2>/dev/null | awk '/srgb\(255,186,77\)/ {n++} END {print n + 0}')
}
# A paint certainly later than the logged verdict shows no orange: the mouse, moved onto "Install driver"
# only now, lights that button in the full accent colour, and that paint draws the verdict too.
hovered() { local window; take_window window && [ -n "$(find_boxes "$window" 3dd678 100 24)" ]; }
no_warning_after_the_verdict() {
  local window x y pixels
  take_window window || return 1
  read -r x y _ <<<"$(find_boxes "$window" 3bd074 100 24 16 | head -n1)"
  [ -n "$y" ] || { WHY="no Install driver button"; return 1; }
  x_dotool mousemove --window "$window" "$x" "$y" && wait_until 10 hovered && pixels=$(warning_pixels) &&
    [ "$pixels" -eq 0 ]
}
warning_shown() { local pixels; pixels=$(warning_pixels) && [ "$pixels" -gt 0 ]; }
# "Allow phones", as the eye finds it: the first button in the controls' grey below the orange line.
allow_phones_button() {
  local window top
  take_window window || return 1
  top=$(x_import -window "$window" -depth 8 txt:- 2>/dev/null | grep -m1 'srgb(255,186,77)' | cut -d, -f2 | cut -d: -f1)
  [ -n "$top" ] && find_boxes "$window" 2a2e31 40 24 3 | awk -v top="$top" '$2 > top' | head -n1
}

trap 'restore_firewall; cleanup; rm -f "$RULES"' EXIT
RULES=$(mktemp)
# The rule the elevated copy wrote: Velotrix.exe, UDP, inbound, Domain and Private, allowed, enabled,
# from the local subnet only; and it is the only rule of that name for this Velotrix.exe.
rules_named_velotrix_for() { tr -d '\r' <"$RULES" | PROGRAM=$1 awk -F'\t' '$1 == "Velotrix" && tolower($2) == tolower(ENVIRON["PROGRAM"])'; }
rule_added() {
  local ours
  ours=$(rules_named_velotrix_for "$EXE_WINDOWS_PATH")
  [ "$(printf '%s' "$ours" | grep -c .)" -eq 1 ] &&
    awk -F'\t' '$3 == 17 && $5 == 1 && $6 == 3 && $7 == 1 && $8 == 1 && $10 == "LocalSubnet"' <<<"$ours" | grep -q .
}

remove_driver
wineserver -k 2>/dev/null
start_display
x_dotool mousemove $(x_dotool getdisplaygeometry) # off the window, so nothing is hovered before the verdict
port=$(free_port)

start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "the page is painted" wait_for_paint 60
check "Wine's firewall cannot tell" wait_for_log 'Firewall check: cannot tell \(0x80004001\)$' 60
check "and the card shows no warning" no_warning_after_the_verdict
stop_velotrix

check "the stand-in firewall is registered" use_stand_in_firewall "$RULES"
# An administrator's own rule of the same name for another program, and an old rule of this program's,
# wider than the new one (any remote address): the first must stay, the second must go.
EXE_WINDOWS_PATH=$(timeout 30 winepath -w "$EXE_DIR/Velotrix.exe" 2>/dev/null | tr -d '\r')
ADMINS_RULE=$(printf 'Velotrix\tC:\\Tools\\velotrix-relay.exe\t6\t8080\t1\t7\t1\t1\tthe administrator'"'"'s own\t*')
printf '%s\n%s\n' "$ADMINS_RULE" "$(printf 'Velotrix\t%s\t17\t*\t1\t3\t1\t0\tan old one\t*' "${EXE_WINDOWS_PATH^^}")" >"$RULES"
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start"; finish; }
check "a missing rule is logged" \
  wait_for_log 'Firewall check: no inbound rule lets Velotrix receive UDP; phones may be blocked$' 60
check "and the card warns" wait_until 30 warning_shown
button=$(allow_phones_button)
check "the warning has its button" test -n "$button"
take_window window && click_box "$window" "$button"
check "\"Allow phones\" adds the rule through the elevated copy" wait_for_log 'Firewall rule "Velotrix" added$' 60
check "the rule lets UDP in to Velotrix.exe from the local subnet on Domain and Private networks, and replaced the old one" rule_added
check "the administrator's own rule of that name is still there" grep -qxF "$ADMINS_RULE" <(tr -d '\r' <"$RULES")
check "the next check finds phones let in" wait_for_log 'Firewall check: nothing stops phones$' 30
check "and the warning is gone" no_warning_after_the_verdict
stop_velotrix

: >"$RULES"
export VELOTRIX_TEST_FIREWALL_NETWORK=public
start_velotrix --demo --port "$port" || { fail "Velotrix.exe did not start on a Public network"; finish; }
check "a Public network is logged" \
  wait_for_log 'Firewall check: the network is marked Public; phones may be blocked$' 60
check "and the card warns about it" wait_until 30 warning_shown
stop_velotrix
unset VELOTRIX_TEST_FIREWALL_NETWORK
restore_firewall
check "Wine's own firewall is back" test "$(firewall_server "${FIREWALL_CLASSES[0]}")" = 'C:\windows\system32\hnetcfg.dll'
finish
