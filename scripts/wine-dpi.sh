# Sourced, after scripts/wine-env.sh: Windows programs at another DPI
# setting, in a Wine prefix of their own, so that no other program sharing
# the usual prefix (another test run, say) sees the setting change.
#   wine_dpi_start DPI   copies the usual prefix to build/wine-dpi/ (once),
#                        sets its DPI (LogPixels) and exports WINEPREFIX to it;
#                        the setting it already has is not written again
#   wine_dpi_stop        stops that prefix's Wine server, removes the copy and
#                        restores WINEPREFIX
_mp4v_dpi_saved_prefix=""
_mp4v_dpi_set=""
_mp4v_dpi_prefix="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine-dpi"

wine_dpi_start() {
  local dpi=$1 key
  if [ -z "$_mp4v_dpi_saved_prefix" ]; then
    _mp4v_dpi_saved_prefix=$WINEPREFIX
    rm -rf "$_mp4v_dpi_prefix"
    mkdir -p "$(dirname "$_mp4v_dpi_prefix")"
    cp -a "$WINEPREFIX" "$_mp4v_dpi_prefix" || return 1
  fi
  export WINEPREFIX=$_mp4v_dpi_prefix
  [ "$_mp4v_dpi_set" = "$dpi" ] && return 0
  # The system DPI is read from the first key, fonts from the others; each
  # program started afterwards takes the setting.
  for key in 'HKCC\Software\Fonts' 'HKCU\Software\Wine\Fonts' 'HKCU\Control Panel\Desktop'; do
    wine reg add "$key" /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1 || return 1
  done
  _mp4v_dpi_set=$dpi
}

wine_dpi_stop() {
  [ -n "$_mp4v_dpi_saved_prefix" ] || return 0
  wineserver -k >/dev/null 2>&1
  rm -rf "$_mp4v_dpi_prefix"
  export WINEPREFIX=$_mp4v_dpi_saved_prefix
  _mp4v_dpi_saved_prefix=""
  _mp4v_dpi_set=""
}
