#!/usr/bin/env bash
# The whole test suite: installs what is missing, builds both targets, runs
# the native tests plain, under AddressSanitizer + UndefinedBehaviorSanitizer
# and (the concurrency tests) under ThreadSanitizer, the Windows tests under
# Wine for both Windows architectures (i686 under the 32-bit Wine, x86-64
# under the 64-bit one), and each fuzz target for a short bounded time. Ends
# with one summary line "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-2}
fuzz_seconds=${FUZZ_SECONDS:-20}

bash scripts/setup.sh || { echo "setup failed"; echo "0 passed, 1 failed"; exit 1; }

passed=0
failed=0
failures=()
record() {  # name, status
  if [ "$2" -eq 0 ]; then passed=$((passed + 1)); echo "PASS: $1";
  else failed=$((failed + 1)); failures+=("$1"); echo "FAIL: $1"; fi
}
stage() { echo; echo "=== $* ($(date +%T))"; }

configure_and_build() {  # dir, cmake args...
  local dir=$1; shift
  cmake -S "$root" -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 &&
    cmake --build "$dir" -j"$jobs" >"$dir.build.log" 2>&1
  local rc=$?
  [ $rc -eq 0 ] || { tail -n 40 "$dir.configure.log" "$dir.build.log" 2>/dev/null; }
  return $rc
}

# With MP4V_CTEST_REPEAT=after-timeout:2 in the environment, a test that
# runs into its time limit is run once more (ctest --repeat); a test that
# fails is not. Either way the summary shows the time-out and what the
# program said of where it hung (the "HANG:" lines of test_watchdog.cpp).
run_ctest() {  # label, dir, ctest selection (e.g. -L gui)...
  local label=$1 dir=$2; shift 2
  local names
  names=$(ctest --test-dir "$dir" -N "$@" | sed -n 's/^ *Test *#[0-9]*: //p')
  for name in $names; do
    ctest --test-dir "$dir" -R "^${name}\$" --output-on-failure --timeout 1500 \
      ${MP4V_CTEST_REPEAT:+--repeat "$MP4V_CTEST_REPEAT"} >"$dir/ctest-$name.log" 2>&1
    local rc=$?
    if [ $rc -ne 0 ]; then
      tail -n 60 "$dir/ctest-$name.log"
      # What failed and why, again, where a shortened log still shows it.
      grep -hE -A6 ': Failure$|\): error: |^writer_child: ' "$dir/ctest-$name.log" |
        head -n 40 | sed "s/^/  $label $name why: /"
    fi
    { grep -hE '^HANG: ' "$dir/Testing/Temporary/LastTest.log"
      grep -hE '\*\*\*Timeout' "$dir/ctest-$name.log" | sed -E 's/^.*\*\*\*Timeout +/timed out after /'
      grep -hE '^\[  (PASSED|FAILED) |^replayed ' "$dir/Testing/Temporary/LastTest.log"
    } 2>/dev/null | sed "s/^/  $label $name: /"
    record "$label $name" $rc
  done
}

# The settings pages' test programs (label "gui") of the Windows build in
# `dir`, run by ctest with the Wine loader `loader` (for its reg command)
# in the environment already set: on a virtual X display of their own, their
# windows on a Wine desktop of their own (named for this run, removed after
# it), so no other program meets either. Its size makes it a desktop window
# inside the display, where windows open and close without waiting for a
# window manager that a bare X server does not have.
run_gui_tests() {  # label, dir, loader
  local label=$1 dir=$2 loader=$3
  source scripts/xvfb.sh
  if xvfb_start; then
    echo "  display $DISPLAY"
    local desktops='HKCU\Software\Wine\Explorer\Desktops' name desktop
    # A desktop for each test program: one closing down as the next program
    # starts would take that program's windows with it.
    for name in $(ctest --test-dir "$dir" -N -L gui -LE dpi | sed -n 's/^ *Test *#[0-9]*: //p'); do
      desktop=mp4v-gui-$$-$label-$name
      "$loader" reg add "$desktops" /v "$desktop" /d 1280x1024 /f >/dev/null 2>&1
      MP4V_GUI_DESKTOP=$desktop MP4V_CTEST_REPEAT=after-timeout:2 run_ctest "$label" "$dir" -R "^${name}\$"
      "$loader" reg delete "$desktops" /v "$desktop" /f >/dev/null 2>&1
    done
    if [ "$loader" = wine ]; then
      # The layout test again at 120, 144 and 192 DPI (the run above is at
      # 96), in a copy of the Wine prefix set to each: the usual prefix,
      # which other programs may be using, keeps its setting.
      # The runs of one DPI one after the other (English, then German), so
      # that the prefix's setting changes once for each.
      source scripts/wine-dpi.sh
      for name in $(ctest --test-dir "$dir" -N -L dpi | sed -n 's/^ *Test *#[0-9]*: //p' |
                      awk -F_ '{ print $NF, $0 }' | sort -s -n -k1,1 | cut -d' ' -f2); do
        dpi=${name##*_}; dpi=${dpi%dpi}
        if wine_dpi_start "$dpi"; then
          desktop=mp4v-gui-$$-$label-$name
          wine reg add "$desktops" /v "$desktop" /d 1280x1024 /f >/dev/null 2>&1
          MP4V_GUI_DESKTOP=$desktop MP4V_CTEST_REPEAT=after-timeout:2 run_ctest "$label" "$dir" -R "^${name}\$"
        else record "$label $name (a prefix at $dpi dpi)" 1; fi
      done
      wine_dpi_stop
    fi
    xvfb_stop
    return 0
  fi
  record "$label virtual display" 1
  return 1
}

# The PE tables of the Windows build in `dir`: each shipped binary of the
# architecture (objdump's file format and the optional header's magic), its
# exports (the module's and the pages library's one name each, none for
# mp4vcfg.exe) and system DLLs alone among its imports; and the manifests
# of the pages library and mp4vcfg.exe (the module carries none) naming the
# binary's own architecture (scripts/pe_manifest.py).
check_pe_tables() {  # label, dir, tool prefix, file format, magic
  local label=$1 dir=$2 tools=$3 format=$4 magic=$5 file want allowed dump exports imports unexpected ok=0
  for file in demo_config_mp4v.dll demo_config_gui_mp4v.dll mp4vcfg.exe; do
    case $file in
      demo_config_mp4v.dll) want="MP4VConfigGetAPIExt "; allowed="kernel32.dll msvcrt.dll" ;;
      demo_config_gui_mp4v.dll) want="showMP4VEncoderPages "; allowed="kernel32.dll user32.dll gdi32.dll comctl32.dll msvcrt.dll" ;;
      mp4vcfg.exe) want=""; allowed="kernel32.dll msvcrt.dll version.dll" ;;
    esac
    dump=$("${tools}objdump" -p "$dir/bin/$file" 2>&1)
    exports=$(printf '%s\n' "$dump" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -nE 's/^\s*\[ *[0-9]+\] +//p' | tr '\n' ' ')
    imports=$(printf '%s\n' "$dump" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
    unexpected=$(for dll in $imports; do case " $allowed " in *" $dll "*) ;; *) echo "$dll";; esac; done)
    echo "  $file: $(printf '%s\n' "$dump" | sed -n 's/^.*file format //p' | head -1), magic $(printf '%s\n' "$dump" | sed -n 's/^Magic\s*//p'); exports: ${exports:-none}; imports: $imports"
    grep -q "file format $format" <<<"$dump" && grep -qE "^Magic\s+$magic" <<<"$dump" &&
      [ "$exports" = "$want" ] && [ -z "$unexpected" ] || ok=1
  done
  python3 scripts/pe_manifest.py "$dir/bin/demo_config_gui_mp4v.dll" "$dir/bin/mp4vcfg.exe" || ok=1
  record "$label binaries: architecture, one export, system DLLs alone, manifests of that architecture" $ok
}

mkdir -p build

stage "set-up: what apt is asked to install, from lists made here"
python3 -m unittest discover -s tests/setup >build/setup-unittest.log 2>&1
rc=$?; [ $rc -eq 0 ] || tail -n 40 build/setup-unittest.log
record "set-up apt functions unit tests" $rc

stage "native build and tests"
if configure_and_build build/native -DCMAKE_BUILD_TYPE=RelWithDebInfo; then
  run_ctest native build/native
else record "native build" 1; fi

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
if configure_and_build build/asan -DCMAKE_BUILD_TYPE=Debug -DMP4V_SANITIZE=ON; then
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 run_ctest asan build/asan
else record "asan build" 1; fi

stage "ThreadSanitizer (concurrent requests)"
if configure_and_build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMP4V_TSAN=ON; then
  (cd build/tsan/bin && TSAN_OPTIONS=halt_on_error=1 ./core_tests --gtest_filter='*Concurrent*' >../tsan.log 2>&1)
  rc=$?; [ $rc -eq 0 ] || tail -n 60 build/tsan/tsan.log
  record "tsan concurrent requests" $rc
else record "tsan build" 1; fi

if [ -f fuzz/CMakeLists.txt ]; then
  stage "fuzz targets (${fuzz_seconds}s each, ASan + UBSan)"
  if configure_and_build build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMP4V_FUZZ=ON -DMP4V_TESTS=OFF \
      -DCMAKE_C_COMPILER=clang-14 -DCMAKE_CXX_COMPILER=clang++-14; then
    # A build without the tests still puts every program beside the module.
    build/fuzz/bin/mp4vcfg info >build/fuzz/mp4vcfg-info.log 2>&1
    rc=$?; [ $rc -eq 0 ] || cat build/fuzz/mp4vcfg-info.log
    record "mp4vcfg info in a build without the tests" $rc
    for target in build/fuzz/bin/fuzz_*; do
      [ -f "$target" ] && [ -x "$target" ] || continue
      name=$(basename "$target")
      work=build/fuzz/corpus-$name; mkdir -p "$work"
      (cd build/fuzz && "$root/$target" -max_total_time="$fuzz_seconds" -max_len=4096 \
        -print_final_stats=1 "$root/$work" "$root/fuzz/corpus/${name#fuzz_}") >"build/fuzz/$name.log" 2>&1
      rc=$?; [ $rc -eq 0 ] || tail -n 40 "build/fuzz/$name.log"
      grep -E 'stat::number_of_executed_units' "build/fuzz/$name.log" | sed "s/^/  $name: /"
      record "fuzz $name" $rc
    done
  else record "fuzz build" 1; fi
fi

stage "release package: built twice in two folders, compared and checked"
t0=$SECONDS
repro=$root/build/repro
rm -rf "$repro"; mkdir -p "$repro"
python3 -m unittest discover -s tests/package >"$repro/unittest.log" 2>&1
rc=$?; [ $rc -eq 0 ] || tail -n 40 "$repro/unittest.log"
record "package tools unit tests" $rc
# Two folders of different lengths: a build path left anywhere in a binary
# changes its bytes, and shows in the path scan.
built=0
for dir in "$repro/one" "$repro/the-second-folder"; do
  JOBS=$jobs bash scripts/package.sh --no-setup --work "$dir/work" --out "$dir/dist" >"$dir.log" 2>&1
  rc=$?; [ $rc -eq 0 ] && built=$((built + 1)) || tail -n 40 "$dir.log"
  record "package build in $(basename "$dir")/" $rc
done
if [ $built -eq 2 ]; then
  sed -n 's/^ *\([0-9]* bytes\)/  \1/p' "$repro/one.log"
  python3 scripts/check_package.py "$repro/one/dist" --same-as "$repro/the-second-folder/dist" \
    --forbid "$repro/one/work" --forbid "$repro/the-second-folder/work" --wine >"$repro/check.log" 2>&1
  rc=$?; sed -n 's/^  \([0-9a-f]\{16\} \)/  \1/p' "$repro/check.log"
  [ $rc -eq 0 ] || tail -n 30 "$repro/check.log"
  record "package reproducible, stripped, symbols matching, no build paths, runs unpacked (also under Wine)" $rc
fi
echo "  release package stage: $((SECONDS - t0)) s"

stage "Windows (i686) build and tests under Wine"
win32_start=$SECONDS
if configure_and_build build/win32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-i686.cmake" -DCMAKE_BUILD_TYPE=Release; then
  exports=$(i686-w64-mingw32-objdump -p build/win32/bin/demo_config_mp4v.dll | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | grep -cE '^\s*\[ *[0-9]+\]')
  imports=$(i686-w64-mingw32-objdump -p build/win32/bin/demo_config_mp4v.dll | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
  echo "  dll exports: $exports; imports: $imports"
  [ "$exports" = 1 ] && [ "$imports" = "kernel32.dll msvcrt.dll " ]; record "win32 dll export and import tables" $?
  # The settings-pages library: its one export, and system DLLs alone.
  pages_dll=build/win32/bin/demo_config_gui_mp4v.dll
  pages_exports=$(i686-w64-mingw32-objdump -p "$pages_dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -nE 's/^\s*\[ *[0-9]+\] +//p' | tr '\n' ' ')
  pages_imports=$(i686-w64-mingw32-objdump -p "$pages_dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort | tr '\n' ' ')
  echo "  pages dll exports: $pages_exports; imports: $pages_imports"
  unexpected=$(for dll in $pages_imports; do
    case $dll in kernel32.dll|user32.dll|gdi32.dll|comctl32.dll|msvcrt.dll) ;; *) echo "$dll";; esac; done)
  [ "$pages_exports" = "showMP4VEncoderPages " ] && [ -z "$unexpected" ]
  record "win32 pages dll export and import tables" $?
  check_pe_tables win32 build/win32 i686-w64-mingw32- pei-i386 "010b"
  # The Wine environment (it may preload a helper into every process) is set
  # only now, after the native stages.
  source scripts/wine-env.sh
  wineserver -p >/dev/null 2>&1 || true
  # Everything but the settings pages runs without a display.
  run_ctest wine build/win32 -LE gui

  stage "settings pages under Wine on a virtual display"
  gui_start=$SECONDS
  if run_gui_tests wine build/win32 wine; then
    # The pictures of every page, as the README shows them.
    mkdir -p build/win32/pages-check
    printf '[MP4V Settings]\nwidth = 720\nheight = 576\nframe_rate = 29.97\n' >build/win32/pages-check/example.cfg
    bash scripts/render-pages.sh build/win32/pages-check/example.cfg build/win32/pages-check >build/win32/pages-check.log 2>&1 &&
      [ "$(ls build/win32/pages-check/page-*.png | wc -l)" = 6 ]
    rc=$?; [ $rc -eq 0 ] || tail -n 20 build/win32/pages-check.log
    record "wine settings pages rendered" $rc
  fi
  echo "  settings pages stage: $((SECONDS - gui_start)) s"
else record "win32 build" 1; fi
echo "  Windows i686 (build and tests): $((SECONDS - win32_start)) s"

# The same tests for 64-bit Windows, under the 64-bit Wine run directly (no
# emulator), in a prefix and an environment of its own.
stage "Windows (x86-64) build and tests under 64-bit Wine"
win64_start=$SECONDS
# The header's layout checks (and the platform text's length) for a host
# built with Visual C++ as well, both architectures, as C11 and C++11:
# clang checks the syntax for those targets.
rc=0
for target in i686-pc-windows-msvc:15 x86_64-pc-windows-msvc:14; do
  for language in "c -std=c11" "c++ -std=c++11"; do
    printf '#include "mp4v_config.h"\nMP4V_CHECK_(MP4V_INFO_PLATFORM_LENGTH == %s, "platform text length");\n' "${target#*:}" |
      clang-14 --target="${target%:*}" -ffreestanding -fsyntax-only -Wall -Wextra -Werror \
        -DMP4V_CHECK_=$([ "${language%% *}" = c ] && echo _Static_assert || echo static_assert) \
        -x $language -I include - || rc=1
  done
done
record "header layout under the MSVC ABIs (i686, x86-64)" $rc
if configure_and_build build/win64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release; then
  check_pe_tables win64 build/win64 x86_64-w64-mingw32- pei-x86-64 "020b"
  source scripts/wine64-env.sh
  "$WINESERVER" -p >/dev/null 2>&1 || true
  run_ctest wine64 build/win64 -LE gui
  run_gui_tests wine64 build/win64 "$WINELOADER" || true
else record "win64 build" 1; fi
echo "  Windows x86-64 (build and tests): $((SECONDS - win64_start)) s"

echo
if [ $failed -gt 0 ]; then printf 'failed: %s\n' "${failures[@]}"; fi
echo "$passed passed, $failed failed"
[ $failed -eq 0 ]
