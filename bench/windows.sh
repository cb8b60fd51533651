#!/usr/bin/env bash
# The load and save of the 64-bit Windows module under the 64-bit Wine,
# against the floors a Windows host has (bench/windows_driver.cpp) and
# against another commit's build of the same module (default 6c45ccd), on
# the benchmark's generated files. Prints the medians: load ÷ the plain read,
# save ÷ the durable replacing write, and this/base.
#
#   bash bench/windows.sh [BASE_COMMIT]   (ROUNDS=15 BATCHES=3 by default;
#   SIZES="59 1000 100000" the files' lines, PLACES="last first middle"
#   where the settings section stands)
#
# Needs the set-up of scripts/setup.sh (mingw-w64, the 64-bit Wine and its
# prefix) and the native benchmark's packages (bench/README.md): the files
# come from the native generator.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base=$(git -C "$root" rev-parse --verify "${1:-6c45ccd}^{commit}")
rounds=${ROUNDS:-15}
batches=${BATCHES:-3}
sizes=${SIZES:-59 1000 100000}
places=${PLACES:-last first middle}
out=$root/build/windows-bench
mkdir -p "$out/files"

# shellcheck source=/dev/null
source "$root/scripts/wine64-env.sh"

win=(-G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release
     -DMP4V_TESTS=OFF)
cmake -S "$root" -B "$out/this-build" "${win[@]}" -DMP4V_BENCH=ON >"$out/this.log"
cmake --build "$out/this-build" --target mp4v_windows_bench demo_config_mp4v >>"$out/this.log"
cp "$out/this-build/bin/demo_config_mp4v.dll" "$out/this.dll"
driver=$out/this-build/bin/mp4v_windows_bench.exe

if [ ! -d "$out/base-src" ]; then
  git -C "$root" worktree add --detach "$out/base-src" "$base" >/dev/null
fi
git -C "$out/base-src" checkout -q --detach "$base"
cmake -S "$out/base-src" -B "$out/base-build" "${win[@]}" >"$out/base.log"
cmake --build "$out/base-build" --target demo_config_mp4v >>"$out/base.log"
cp "$out/base-build/bin/demo_config_mp4v.dll" "$out/base.dll"

# The generator of the native benchmark.
native=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DMP4V_TESTS=OFF -DMP4V_BENCH=ON)
cmake -S "$root" -B "$root/build/bench" "${native[@]}" >"$out/native.log"
cmake --build "$root/build/bench" --target mp4v_profile_driver >>"$out/native.log"
generate=("$root/build/bench/bin/mp4v_profile_driver" generate)
echo "base $base: $(git -C "$out/base-src" log -1 --format='%h %s' | cut -c1-70)"
echo "this: $(git -C "$root" log -1 --format='%h %s' | cut -c1-70)$(git -C "$root" diff --quiet || echo ' (and uncommitted changes)')"

results=$out/results.txt
: >"$results"
for lines in $sizes; do
  for place in $places; do
    file=$out/files/$lines-$place.cfg
    if [ "$lines" = 59 ]; then
      # A file of the settings section alone: where it stands does not arise.
      [ "$place" = last ] || continue
      printf '[MP4V Settings]\r\nwidth=720\r\n' >"$file"
    else
      "${generate[@]}" "$lines" "$file.gen"
      # The generator puts the section last; moved as a block, it stands
      # first or in the middle of the hosts' sections.
      python3 - "$file.gen" "$file" "$place" <<'PY'
import sys
text = open(sys.argv[1], 'rb').read()
at = text.index(b'[MP4V Settings]')
hosts, settings = text[:at], text[at:]
if sys.argv[3] == 'first':
    text = settings + hosts
elif sys.argv[3] == 'middle':
    cut = hosts.index(b'\n[', len(hosts) // 2) + 1
    text = hosts[:cut] + settings + hosts[cut:]
open(sys.argv[2], 'wb').write(text)
PY
      rm -f "$file.gen"
    fi
    for ((batch = 0; batch < batches; ++batch)); do
      for module in base this; do
        cp "$file" "$out/files/run.cfg"
        "$WINELOADER" "$driver" "Z:${out//\//\\}\\$module.dll" "Z:${out//\//\\}\\files\\run.cfg" "$rounds" |
          tr -d '\r' | sed "s/^/$lines $place $module /" >>"$results"
      done
    done
  done
done
rm -f "$out/files/run.cfg"

python3 - "$results" <<'PY'
import statistics, sys
data = {}
for line in open(sys.argv[1]):
    lines, place, module, case, ns = line.split()
    data.setdefault((int(lines), place), {}).setdefault((module, case), []).append(int(ns))
def show(ns):
    return f"{ns / 1e6:.2f} ms" if ns >= 1e6 else f"{ns / 1e3:.0f} us"
print("| lines | section | load | ÷ read | base load | save | ÷ floor | base save | base ÷ floor | save this/base |")
print("|---:|---|---:|---:|---:|---:|---:|---:|---:|---:|")
for (lines, place), by in sorted(data.items()):
    m = {key: statistics.median(v) for key, v in by.items()}
    print(f"| {lines} | {place} | {show(m['this', 'load'])} | {m['this', 'load'] / m['this', 'read']:.2f} "
          f"| {show(m['base', 'load'])} | {show(m['this', 'save'])} "
          f"| {m['this', 'save'] / m['this', 'floor']:.2f} | {show(m['base', 'save'])} "
          f"| {m['base', 'save'] / m['base', 'floor']:.2f} | {m['this', 'save'] / m['base', 'save']:.2f} |")
PY
