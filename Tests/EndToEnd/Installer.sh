#!/usr/bin/env bash
# What users download, used as they would, in a Wine prefix of its own: packaged and signed with a
# throwaway certificate, installed, run, installed again over the running program, and uninstalled.
source "$(dirname "$0")/common.bash"

STAND_IN_INSTALLER="$ROOT/build/windows/Tests/velotrix_test_installer.exe"
work=$(mktemp -d "$ROOT/build/installer-test.XXXXXX")
trap 'cleanup; rm -rf "$work"' EXIT

# Its own prefix and wineserver: the project's prefix is not touched. No menu entries on this
# machine from the shortcut; netsh and icacls from system32 instead of Wine's, for every program, and
# the test DNS API for Velotrix.exe (scripts/env.sh). Both stand-ins append what they were asked to one
# request log, in order.
export WINEPREFIX="$work/prefix"
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;netsh.exe=n;icacls.exe=n"
windows_path() { printf 'Z:%s' "${1//\//\\}"; }
export VELOTRIX_TEST_NETSH_RULES=$(windows_path "$work/rules.txt")
export VELOTRIX_TEST_REQUESTS=$(windows_path "$work/requests.txt")
export VELOTRIX_TEST_INSTALLER_LOG=$(windows_path "$work/driver-installer.log")

program_dir="$WINEPREFIX/drive_c/Program Files/Velotrix"
shortcut="$WINEPREFIX/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/Velotrix.lnk"
entry='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\Velotrix'
run_key='HKCU\Software\Microsoft\Windows\CurrentVersion\Run'
phone_id=00112233445566778899aabbccddeeff

# The data of one registry value, or nothing when it is missing.
reg_value() { wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"; }
gone() { [ ! -e "$1" ]; }
# The fixed file version of an exe's version resource, as major.minor.patch.
exe_version() {
  python3 - "$1" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))
ms, ls = struct.unpack_from("<II", data, at + 8)
print(f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}")
EOF
}
rules() { tr -d '\r' <"$work/rules.txt" 2>/dev/null; }
# The requests made of netsh and icacls since the last call, one a line, arguments separated by tabs.
taken_requests=0
new_requests() {
  local all
  all=$(tr -d '\r' <"$work/requests.txt" 2>/dev/null)
  printf '%s\n' "$all" | tail -n +$((taken_requests + 1)) | grep .
  taken_requests=$(printf '%s\n' "$all" | grep -c .)
}
# Starts an installed or unpacked Velotrix.exe and waits until it listens.
start_program() { # exe (Unix path), port
  rm -f "$(log_file)"
  wine "$1" --port "$2" >/dev/null 2>&1 &
  VELOTRIX_PID=$!
  wait_for_log "Server: listening on UDP $2\$" 40
}

# --- A fresh prefix with the stand-ins, and the simulated driver so that phones become Active. First,
# since the package signs its uninstaller by running a build of the setup under Wine.
start_display
wineboot -i >/dev/null 2>&1
cp "$EXE_DIR/Tests/netsh.exe" "$EXE_DIR/Tests/icacls.exe" "$WINEPREFIX/drive_c/windows/system32/"
use_test_dnsapi || fail "the test dnsapi.dll could not be put in place"
# An administrator's own rule of the same name, for another program: no install or uninstall touches it.
admins_rule=$(printf 'name=Velotrix\tdir=in\taction=allow\tprotocol=TCP\tprogram=C:\\Tools\\relay.exe\tenable=yes')
printf '%s\n' "$admins_rule" >"$work/rules.txt"
"$ROOT/scripts/wine-driver" install >/dev/null 2>&1 || fail "the simulated driver did not install"
# Settings of an earlier use: this phone is allowed; they must survive the uninstall.
wine reg add "$SETTINGS_KEY" /v Allowed /t REG_MULTI_SZ /d "$phone_id" /f >/dev/null 2>&1

# --- The package
driver_installer="$work/ViGEmBus_1.22.0_x64_x86_arm64.exe"
cp "$STAND_IN_INSTALLER" "$driver_installer"
cp "$STAND_IN_INSTALLER" "$work/ViGEmBus_1.19.151_x64_x86_arm64.exe"
refusal=$("$ROOT/scripts/package" --redist "$work/ViGEmBus_1.19.151_x64_x86_arm64.exe" --out "$work/refused" 2>&1)
check "a driver with the auto-updater is refused, saying why" \
  grep -q 'refusing ViGEmBus 1.19.151: versions 1.18 to 1.21 carry an auto-updater' <<<"$refusal"
check "nothing is packaged then" gone "$work/refused"

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Velotrix test signing" \
  -keyout "$work/key.pem" -out "$work/cert.pem" >/dev/null 2>&1
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -passout pass:throwaway \
  -out "$work/sign.pfx" >/dev/null 2>&1
release="$work/release"
# --quick-check: the second build, which must give the same Velotrix.exe, takes its objects from the
# compiler cache; a compile without it would add a minute or more to this tier (docs/RELEASE.md).
VELOTRIX_SIGN_PFX="$work/sign.pfx" VELOTRIX_SIGN_PASSWORD=throwaway \
  "$ROOT/scripts/package" --quick-check --redist "$driver_installer" --out "$release" >"$work/package.log" 2>&1 ||
  { fail "scripts/package failed: $(tail -n 3 "$work/package.log")"; finish; }
check "the package says Velotrix.exe came out the same from two folders" \
  grep -q 'Velotrix.exe built twice, the same bytes both times' "$work/package.log"
version=$(sed -n 's/^project(Velotrix VERSION \([0-9.]*\).*/\1/p' "$ROOT/CMakeLists.txt")
zip="$release/Velotrix-$version-win64.zip"
setup="$release/Velotrix-$version-setup.exe"
symbols="$release/Velotrix-$version-symbols.zip"
check "SHA256SUMS holds the zip, the setup and the symbols, and all match" bash -c "cd '$release' && test \$(wc -l <SHA256SUMS) -eq 3 && sha256sum -c --quiet SHA256SUMS"
unzip -q "$zip" -d "$work/unpacked"
check "the zip holds the program, the README and the driver installer" \
  test "$(cd "$work/unpacked" && find . -type f | LC_ALL=C sort | tr '\n' ' ')" = \
  "./README.txt ./Redist/ViGEmBus_1.22.0_x64_x86_arm64.exe ./Velotrix.exe "
signed() { # file: carries a signature by the throwaway certificate (each file's own .der: no stale one is read)
  local der="$work/$(basename "$1").der"
  osslsigncode extract-signature -in "$1" -out "$der" >/dev/null 2>&1 &&
    openssl pkcs7 -inform DER -in "$der" -print_certs -noout | grep -q 'CN = Velotrix test signing'
}
for signed in "$setup" "$work/unpacked/Velotrix.exe"; do
  check "$(basename "$signed") carries the signature" signed "$signed"
done
# The build id: the CodeView record through which a crash dump's module finds its symbols.
build_id() { x86_64-w64-mingw32-objdump -p "$1" | sed -n 's/.*format RSDS signature \([0-9a-f]*\) age.*/\1/p'; }
unzip -q "$symbols" -d "$work/symbols"
check "the symbols zip holds the unstripped Velotrix.exe and SYMBOLS.txt" \
  test "$(cd "$work/symbols" && find . -type f | LC_ALL=C sort | tr '\n' ' ')" = "./SYMBOLS.txt ./Velotrix.exe "
check "the released Velotrix.exe carries no debug information" \
  bash -c "! x86_64-w64-mingw32-objdump -h '$work/unpacked/Velotrix.exe' | grep -q '\.debug_info'"
check "the symbols' Velotrix.exe carries it" bash -c "x86_64-w64-mingw32-objdump -h '$work/symbols/Velotrix.exe' | grep -q '\.debug_info'"
released_id=$(build_id "$work/unpacked/Velotrix.exe")
check "the released and the symbols' Velotrix.exe carry one build id ($released_id)" \
  test -n "$released_id" -a "$released_id" = "$(build_id "$work/symbols/Velotrix.exe")"

check "--quit with nothing running returns 0" wine "$work/unpacked/Velotrix.exe" --quit

# --- Silent install
check "the setup installs silently" wine "$setup" /S
check "the program, the uninstaller and Redist are in Program Files\\Velotrix" test -f "$program_dir/Velotrix.exe" \
  -a -f "$program_dir/Uninstall.exe" -a -f "$program_dir/Redist/ViGEmBus_1.22.0_x64_x86_arm64.exe"
check "the installed uninstaller carries the signature" signed "$program_dir/Uninstall.exe"
check "the installed program is the zip's" cmp -s "$program_dir/Velotrix.exe" "$work/unpacked/Velotrix.exe"
check "the Start-menu shortcut leads to it" bash -c \
  "test -f '$shortcut' && LC_ALL=C grep -qaF 'Program Files\\Velotrix\\Velotrix.exe' <(tr -d '\\000' <'$shortcut')"
exe_v=$(exe_version "$program_dir/Velotrix.exe")
check "the exe's version is the project's ($exe_v)" test "$exe_v" = "$version"
check "the Apps & features entry names, versions and uninstalls it" diff <(for value in DisplayName DisplayVersion \
  Publisher DisplayIcon UninstallString QuietUninstallString; do reg_value "$entry" $value; done) - <<EOF
Velotrix
$exe_v
Quillon
C:\\Program Files\\Velotrix\\Velotrix.exe,0
"C:\\Program Files\\Velotrix\\Uninstall.exe"
"C:\\Program Files\\Velotrix\\Uninstall.exe" /S
EOF
size=$(($(reg_value "$entry" EstimatedSize)))
check "Apps & features: size in KB ($size)" test "$size" -ge 400
check "the Run value is the program's own" \
  test "$(reg_value "$run_key" Velotrix)" = '"C:\Program Files\Velotrix\Velotrix.exe" --tray'
check "a silent install does not start the driver installer" gone "$work/driver-installer.log"
ours='program=C:\Program Files\Velotrix\Velotrix.exe'
check "the install asked netsh to delete only Velotrix's own rule, then to add one for the local subnet" \
  diff <(new_requests) - <<END
netsh	advfirewall	firewall	delete	rule	name=Velotrix	$ours
netsh	advfirewall	firewall	add	rule	name=Velotrix	dir=in	action=allow	protocol=UDP	$ours	profile=private,domain	remoteip=localsubnet	enable=yes
END

# --- The installed program answers a phone; a second install ends it cleanly
port=$(free_port)
if start_program "$program_dir/Velotrix.exe" "$port"; then
  "$PHONE" --port "$port" --id "$phone_id" --rate 20 --duration 120 --wait-active 20 --json >"$work/phone.json" &
  phone_pid=$!
  check "the installed program admits the phone" wait_until 20 grep -q '"type":"status".*"state":0' "$work/phone.json"
  check "a second silent install succeeds" wine "$setup" /S
  check "the running program was ended with its stop line" wait_for_log "Velotrix server stopped" 5
  check "the phone was told (Refused)" grep -q '"type":"status".*"state":2' "$work/phone.json"
  kill "$phone_pid" 2>/dev/null
  wait "$phone_pid" 2>/dev/null
  wait "$VELOTRIX_PID" 2>/dev/null
  VELOTRIX_PID=""
else
  fail "the installed Velotrix.exe did not start"
fi
check "the administrator's rule and one of Velotrix's are left, the right one" test "$(rules)" = "$admins_rule
$(printf 'name=Velotrix\tdir=in\taction=allow\tprotocol=UDP\t%s\tprofile=private,domain\tremoteip=localsubnet\tenable=yes' "$ours")"
check "a folder in Program Files keeps the permissions it inherits" bash -c "! grep -q icacls '$work/requests.txt'"

# --- Silent uninstall: it goes on from a copy of itself elsewhere and removes the entry last, so it is waited for by that.
check "the uninstaller starts silently" wine "$program_dir/Uninstall.exe" /S
check "no Apps & features entry is left" wait_until 60 bash -c "! wine reg query '$entry' >/dev/null 2>&1"
check "no program folder is left" gone "$program_dir"
check "no shortcut is left" gone "$shortcut"
check "no firewall rule of Velotrix's is left, the administrator's is" test "$(rules)" = "$admins_rule"
check "no Run value is left" test -z "$(reg_value "$run_key" Velotrix)"
check "the settings are kept" test "$(reg_value "$SETTINGS_KEY" Allowed)" = "$phone_id"
check "the installer itself writes and deletes nothing in HKCU: Velotrix.exe does, as the user" \
  bash -c "! grep -Ei '^[[:space:]]*(WriteReg|DeleteReg)[A-Za-z]*[[:space:]]+HKCU' '$ROOT/Packaging/Velotrix.nsi'"

# --- Outside Program Files, with a copy from the zip running: the setup protects the folder before it
# writes into it, and ends only the copy it replaces.
games='C:\Games\Velotrix'
games_dir="$WINEPREFIX/drive_c/Games/Velotrix"
new_requests >/dev/null
port=$(free_port)
if start_program "$work/unpacked/Velotrix.exe" "$port"; then
  check "a setup into another folder succeeds" wine "$setup" /S "/D=$games"
  check "and leaves the copy from the zip running" bash -c "kill -0 $VELOTRIX_PID && ! tr -d '\r' <'$(log_file)' | grep -q 'Velotrix server stopped'"
  stop_velotrix
else
  fail "the zip's Velotrix.exe did not start"
fi
check "the program is in $games" test -f "$games_dir/Velotrix.exe"
check "the folder got Program Files' permissions first: the owner, nothing of its own, exactly these, then its contents" \
  diff <(new_requests) - <<END
icacls	$games	/setowner	*S-1-5-32-544	/T	/C	/Q
icacls	$games	/reset	/C	/Q
icacls	$games	/inheritance:r	/grant:r	*S-1-5-32-544:(OI)(CI)F	*S-1-5-18:(OI)(CI)F	*S-1-5-32-545:(OI)(CI)RX	/C	/Q
icacls	$games	/setowner	*S-1-5-32-544	/T	/C	/Q
icacls	$games\*	/reset	/T	/C	/Q
netsh	advfirewall	firewall	delete	rule	name=Velotrix	program=$games\Velotrix.exe
netsh	advfirewall	firewall	add	rule	name=Velotrix	dir=in	action=allow	protocol=UDP	program=$games\Velotrix.exe	profile=private,domain	remoteip=localsubnet	enable=yes
END
check "the Run value names it, written by Velotrix.exe as the user" \
  test "$(reg_value "$run_key" Velotrix)" = "\"$games\\Velotrix.exe\" --tray"
check "\"--as-user --remove-settings\", as the uninstaller runs it, removes the settings" \
  bash -c "timeout 60 wine '$games_dir/Velotrix.exe' --as-user --remove-settings && ! wine reg query '$SETTINGS_KEY' >/dev/null 2>&1"
check "and the Run value" test -z "$(reg_value "$run_key" Velotrix)"
check "its uninstaller starts silently" wine "$games_dir/Uninstall.exe" /S
check "and removes the entry" wait_until 60 bash -c "! wine reg query '$entry' >/dev/null 2>&1"
check "the administrator's rule is still the only one" test "$(rules)" = "$admins_rule"

remove_driver
finish
