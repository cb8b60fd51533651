# Sourced (". scripts/wine64-env.sh"): exports the 64-bit Wine environment
# that scripts/wine64-setup.sh wrote to build/wine64.env, setting it up first
# when that has not happened yet. It replaces whatever the 32-bit environment
# (scripts/wine-env.sh) set: the 64-bit loader runs directly, so the helper
# that one may preload for qemu is taken out of LD_PRELOAD.
_mp4v_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ ! -f "$_mp4v_top/build/wine64.env" ]; then
  bash "$_mp4v_top/scripts/wine64-setup.sh" --env-file "$_mp4v_top/build/wine64.env" >/dev/null
fi
unset WINEARCH WINEPREFIX WINESERVER WINELOADER
if [ -n "${LD_PRELOAD:-}" ]; then
  LD_PRELOAD=$(printf '%s' "$LD_PRELOAD" | tr ': ' '\n\n' | grep -v 'libwine-noreplace' | paste -sd: || true)
  if [ -n "$LD_PRELOAD" ]; then export LD_PRELOAD; else unset LD_PRELOAD; fi
fi
# shellcheck disable=SC1091
. "$_mp4v_top/build/wine64.env"
unset _mp4v_top
