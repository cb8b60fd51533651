# Sourced (". scripts/wine-env.sh"): exports the Wine environment that
# scripts/wine-setup.sh wrote to build/wine.env, setting Wine up first when
# that has not happened yet. Source it only for the Windows programs: it may
# preload a library into every process started afterwards.
_mp4v_top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ ! -f "$_mp4v_top/build/wine.env" ]; then
  bash "$_mp4v_top/scripts/wine-setup.sh" --env-file "$_mp4v_top/build/wine.env" >/dev/null
fi
# shellcheck disable=SC1091
. "$_mp4v_top/build/wine.env"
unset _mp4v_top
