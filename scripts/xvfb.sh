# Sourced: a virtual X display for the programs that show windows.
#   xvfb_start   starts Xvfb on a free display number, exports DISPLAY
#   xvfb_stop    stops that Xvfb (only the one xvfb_start started)
# A display number is free when neither its socket nor its lock file exists;
# should another user take the same number at the same moment, the next one
# is tried.
_mp4v_xvfb_pid=""

xvfb_start() {
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
  unset DISPLAY
}
