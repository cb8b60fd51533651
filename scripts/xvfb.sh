# Sourced: a virtual X display for the programs that show windows.
#   xvfb_start   starts Xvfb on a free display number, exports DISPLAY, and
#                lets Wine find its own fonts (see below)
#   xvfb_stop    stops that Xvfb (only the one xvfb_start started)
# A display number is free when neither its socket nor its lock file exists;
# should another user take the same number at the same moment, the next one
# is tried.
_mp4v_xvfb_pid=""

# Wine draws dialogs in Tahoma ("MS Shell Dlg") and title-bar buttons in
# Marlett, which the fonts-wine package puts in /usr/share/wine/fonts; a Wine
# prefix made before that package was installed does not have them in its
# own Fonts folder. A fontconfig file of our own, for the processes started
# from this shell only, adds that folder to the system's.
_mp4v_fonts_conf() {
  local conf
  conf="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/build/wine-fonts.conf"
  mkdir -p "$(dirname "$conf")"
  cat >"$conf" <<'XML'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "urn:fontconfig:fonts.dtd">
<fontconfig>
  <include ignore_missing="yes">/etc/fonts/fonts.conf</include>
  <dir>/usr/share/wine/fonts</dir>
</fontconfig>
XML
  export FONTCONFIG_FILE=$conf
}

xvfb_start() {
  _mp4v_fonts_conf
  local n
  for n in $(seq 90 189); do
    [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
    Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    _mp4v_xvfb_pid=$!
    local waited=0
    while [ $waited -lt 100 ]; do
      if ! kill -0 "$_mp4v_xvfb_pid" 2>/dev/null; then break; fi  # lost the race for :$n
      if [ -S "/tmp/.X11-unix/X$n" ]; then export DISPLAY=":$n"; return 0; fi
      sleep 0.1; waited=$((waited + 1))
    done
    kill "$_mp4v_xvfb_pid" 2>/dev/null; wait "$_mp4v_xvfb_pid" 2>/dev/null
    _mp4v_xvfb_pid=""
  done
  echo "xvfb: no free display could be started" >&2
  return 1
}

xvfb_stop() {
  if [ -n "$_mp4v_xvfb_pid" ]; then
    kill "$_mp4v_xvfb_pid" 2>/dev/null
    wait "$_mp4v_xvfb_pid" 2>/dev/null
    _mp4v_xvfb_pid=""
  fi
  unset DISPLAY FONTCONFIG_FILE
}
