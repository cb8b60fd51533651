#!/usr/bin/env bash
# The main job end to end: installs what is missing, builds what is missing,
# then changes an example settings file with mp4vcfg and shows it, once
# through the native library and once through the Windows DLL under Wine,
# and renders the settings pages of that file to PNG files (build/demo/pages).
#
#   bash scripts/demo.sh            both
#   SKIP_WINE=1 bash scripts/demo.sh  the native half only
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-2}

bash scripts/setup.sh

step() { printf '\n=== %s\n' "$*"; }

# Configures a build tree once (with the same options as scripts/test.sh, so
# the two share it) and brings mp4vcfg and the module up to date.
build() {  # dir, cmake arguments... (extra targets in $targets)
  local dir=$1; shift
  mkdir -p build
  if [ ! -f "$dir/build.ninja" ]; then
    cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 ||
      { tail -n 40 "$dir.configure.log"; exit 1; }
  fi
  cmake --build "$dir" -j"$jobs" --target mp4vcfg demo_config_mp4v ${targets:-} >"$dir.build.log" 2>&1 ||
    { tail -n 40 "$dir.build.log"; exit 1; }
}

# A customer's preset: settings of its own, a comment, and a section of the
# host's that the module must keep.
write_example() {  # path
  cat >"$1" <<'EOF'
# Night-run encoder preset (broadcast SD)
[Job]
source = tape_0421.avi
passes = 1

[MP4V Settings]
profile_id = 0
level_id = 3
target_bitrate = 4000000   # bits per second
max_bitrate = 8000000
bvop_count = 2
max_key_interval = 15
EOF
}

# Runs in a fresh directory so that the commands read as a user types them.
demo() {  # label, directory, command runner...
  local label=$1 dir=$2; shift 2
  rm -rf "$dir"; mkdir -p "$dir"; cd "$dir"
  write_example example.cfg
  step "$label: mp4vcfg set example.cfg width=720 height=576 frame_rate=29.97"
  "$@" set example.cfg width=720 height=576 frame_rate=29.97
  step "$label: mp4vcfg show example.cfg"
  "$@" show example.cfg
  step "$label: the file written ($dir/example.cfg)"
  tr -d '\r' <example.cfg
  cd "$root"
}

step "building (native)"
build build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo
demo native "$root/build/demo/native" "$root/build/native/bin/mp4vcfg"

if [ -n "${SKIP_WINE:-}" ]; then exit 0; fi

step "building (Windows, i686)"
targets="demo_config_gui_mp4v pages_render" \
  build build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release
# Wine's environment (it may preload a library) only for the Windows half.
(
  source scripts/wine-env.sh
  export WINEDEBUG=${WINEDEBUG:--all}
  # Two Wine processes in all: each one costs a start-up here.
  wine_mp4vcfg() { wine "$root/build/win32/bin/mp4vcfg.exe" "$@" | tr -d '\r'; }
  demo "Windows DLL under Wine" "$root/build/demo/win32" wine_mp4vcfg
)

step "Windows DLL under Wine: the settings pages of example.cfg (mp4vcfg edit shows them)"
rm -rf "$root/build/demo/pages"
bash scripts/render-pages.sh "$root/build/demo/win32/example.cfg" "$root/build/demo/pages"
