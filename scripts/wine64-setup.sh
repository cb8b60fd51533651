#!/usr/bin/env bash
# Prepare a Debian 12 (amd64) machine to run 64-bit mingw-built test
# programs under Wine: the 64-bit loader and server of Debian's wine64
# package, run directly (no emulator, no preloaded helper), in a prefix of
# their own.
#
#   scripts/wine64-setup.sh --env-file build/wine64.env   # set up, write the exports
#
# Idempotent: every step checks first and is skipped when already done.
# Progress goes to stderr; only the export lines go to stdout.
#
# Environment knob: WINE64_PREFIX (default $HOME/.wine-test64).
set -euo pipefail

PREFIX=${WINE64_PREFIX:-$HOME/.wine-test64}
LOADER=/usr/lib/wine/wine64
SERVER=/usr/lib/wine/wineserver64
OVERRIDES="mscoree,mshtml=;winemenubuilder.exe,winedbg.exe=d"
ENV_FILE=""

while [ $# -gt 0 ]; do
    case "$1" in
        --env-file) ENV_FILE=$2; shift 2 ;;
        -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
        *) echo "unknown argument: $1" >&2; exit 2 ;;
    esac
done

log() { echo "wine64-setup: $*" >&2; }
die() { log "error: $*"; exit 1; }
# shellcheck source=apt.sh
. "$(dirname "$0")/apt.sh"
[ "$(id -u)" = 0 ] || die "run as root"
[ "$(dpkg --print-architecture)" = amd64 ] || die "expects an amd64 host"

if ! dpkg-query -W -f='${Status}' wine64 2>/dev/null | grep -q "install ok installed"; then
    log "installing wine64"
    apt_update
    apt_get install -y -qq --no-install-recommends wine64 >&2
fi
[ -x "$LOADER" ] && [ -x "$SERVER" ] || die "$LOADER or $SERVER missing (package wine64)"

# ------------------------------------------------------------ environment
# Nothing of the 32-bit set-up may reach these processes: its architecture,
# its prefix, its server, or the helper it may preload for qemu.
unset WINEARCH WINEPREFIX WINESERVER WINELOADER DISPLAY WAYLAND_DISPLAY
if [ -n "${LD_PRELOAD:-}" ]; then
    kept=$(printf '%s' "$LD_PRELOAD" | tr ': ' '\n\n' | grep -v 'libwine-noreplace' | paste -sd: || true)
    if [ -n "$kept" ]; then export LD_PRELOAD=$kept; else unset LD_PRELOAD; fi
fi
export WINEPREFIX=$PREFIX WINEARCH=win64 WINESERVER=$SERVER WINELOADER=$LOADER
export WINEDEBUG=-all WINEDLLOVERRIDES=$OVERRIDES

# ----------------------------------------------------------------- prefix
# The prefix is keyed by the steps below: a prefix made another way is made
# again.
PREFIX_STAMP="$(sed -n '/^# ---* prefix$/,/^# ---* persistent server$/p' "$0" | sha256sum | cut -c1-16)"
if [ "$(cat "$PREFIX/.wine-setup-done" 2>/dev/null)" != "$PREFIX_STAMP" ]; then
    t0=$(date +%s)
    log "creating prefix $PREFIX"
    "$SERVER" -k >/dev/null 2>&1 || true
    rm -rf "$PREFIX"
    "$LOADER" wineboot.exe -i >/dev/null 2>"$PREFIX.wineboot.log" || { cat "$PREFIX.wineboot.log" >&2; die "wineboot failed"; }
    rm -f "$PREFIX.wineboot.log"
    # Crashes must end the process, never wait for a debugger or a dialog.
    for dll in winedbg.exe winemenubuilder.exe mscoree mshtml; do
        "$LOADER" reg.exe add 'HKCU\Software\Wine\DllOverrides' /v "$dll" /d '' /f >/dev/null
    done
    "$LOADER" reg.exe add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null
    "$LOADER" reg.exe add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug' /v Auto /d 1 /f >/dev/null
    "$SERVER" -w
    # Never re-run wineboot on start-up (it would if wine.inf looks newer).
    echo disable > "$PREFIX/.update-timestamp"
    echo "$PREFIX_STAMP" > "$PREFIX/.wine-setup-done"
    log "prefix ready in $(( $(date +%s) - t0 )) s"
fi

# ------------------------------------------------------ persistent server
# -p keeps the server (and services.exe etc.) alive between test runs, so
# each run only pays for its own process.
setsid "$SERVER" -p </dev/null >/dev/null 2>&1 || true
t0=$(date +%s)
set +e; "$LOADER" cmd.exe /c exit 3 </dev/null >/dev/null 2>&1; rc=$?; set -e
[ $rc = 3 ] || die "smoke test: expected exit code 3, got $rc"
log "wineserver64 up, smoke test ok ($(( $(date +%s) - t0 )) s)"

exports=$(cat <<EOS
export WINEPREFIX='$WINEPREFIX'
export WINEARCH=win64
export WINESERVER='$SERVER'
export WINELOADER='$LOADER'
export WINEDEBUG=-all
export WINEDLLOVERRIDES='$OVERRIDES'
EOS
)
if [ -n "$ENV_FILE" ]; then
    mkdir -p "$(dirname "$ENV_FILE")"
    printf '%s\n' "$exports" > "$ENV_FILE"
fi
printf '%s\n' "$exports"
