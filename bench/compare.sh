#!/usr/bin/env bash
# Compares this tree's load and save requests with another commit's build of
# the module (default 6c45ccd), both built the same way (Release, -O2), and
# each with inih's ini_parse and the durable-write floor of the same bytes.
# The files: the 59-line save of the example record, and host files of
# 1,000, 100,000 and 1,000,000 lines with the settings section first, in
# the middle and last. For each file and module:
#   fresh  one request in each of FRESH new processes (what a host meets the
#          first time), the two modules' processes taking turns;
#   mixed  ROUNDS rounds in BATCHES processes per module taking turns, each
#          round the module's load, inih's parse, a plain read, the module's
#          save and the floor (temporary file, write, fsync, close, rename,
#          fsync of the folder) of the same file; the module and its peer
#          take turns going first, so that neither always meets the file
#          just after a save.
# Prints the medians, this/base per case, and load / inih and save / floor
# from the same rounds.
#
#   bash bench/compare.sh [BASE_COMMIT]
#   FRESH=11 ROUNDS=5 BATCHES=3 by default; files of LARGE_LINES (1000000) or
#   more lines take FRESH_LARGE=3 ROUNDS_LARGE=2 BATCHES_LARGE=1;
#   SIZES="59 1000 100000 1000000" and PLACES="first middle last" choose the
#   files (the 59-line file has the settings alone).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base=$(git -C "$root" rev-parse --verify "${1:-6c45ccd}^{commit}")
sizes=${SIZES:-59 1000 100000 1000000}
places=${PLACES:-first middle last}
large=${LARGE_LINES:-1000000}
out=$root/build/compare
mkdir -p "$out/files"
flags=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG"
       -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DMP4V_TESTS=OFF)

cmake -S "$root" -B "$root/build/bench" "${flags[@]}" -DMP4V_BENCH=ON >"$out/this.log"
cmake --build "$root/build/bench" --target mp4v_compare_driver mp4v_profile_driver mp4vcfg \
  demo_config_mp4v >>"$out/this.log"
bin=$root/build/bench/bin
cp "$bin/demo_config_mp4v.so" "$out/this.so"

if [ ! -d "$out/base-src" ]; then
  git -C "$root" worktree add --detach "$out/base-src" "$base" >/dev/null
fi
git -C "$out/base-src" checkout -q --detach "$base"
cmake -S "$out/base-src" -B "$out/base-build" "${flags[@]}" >"$out/base.log"
cmake --build "$out/base-build" --target demo_config_mp4v >>"$out/base.log"
cp "$out/base-build/bin/demo_config_mp4v.so" "$out/base.so"
echo "base $base: $(git -C "$out/base-src" log -1 --format='%h %s' | cut -c1-70)"
echo "this: $(git -C "$root" log -1 --format='%h %s' | cut -c1-70)$(git -C "$root" diff --quiet || echo ' (and uncommitted changes)')"
echo "machine: $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg) at start"

# The files: a save of the example record to a new file, and the host files
# with the settings section moved where each place says (the generator puts
# it last; "middle" is before the host section in the middle).
rm -f "$out/files/59.cfg"
"$bin/mp4vcfg" --module "$out/this.so" set "$out/files/59.cfg" width=720 height=576 frame_rate=29.97 >/dev/null
cases=()
for lines in $sizes; do
  if [ "$lines" = 59 ]; then
    cases+=("59-only")
    continue
  fi
  "$bin/mp4v_profile_driver" generate "$lines" "$out/files/$lines-last.cfg"
  for place in $places; do
    [ "$place" = last ] || python3 - "$out/files/$lines-last.cfg" "$out/files/$lines-$place.cfg" "$place" <<'PY'
import sys
text = open(sys.argv[1], "rb").read()
cut = text.index(b"\n[MP4V Settings]\n")
hosts, settings = text[:cut], text[cut:]
if sys.argv[3] == "first":
    # After the file's first line, a comment of the host.
    first_end = hosts.index(b"\n") + 1
    text = hosts[:first_end] + settings.lstrip(b"\n") + hosts[first_end:] + b"\n"
else:
    headers = [i for i in range(len(hosts)) if hosts.startswith(b"\n[Preset ", i)]
    middle = headers[len(headers) // 2] if headers else len(hosts)
    text = hosts[:middle] + settings + hosts[middle:] + b"\n"
open(sys.argv[2], "wb").write(text)
PY
    cases+=("$lines-$place")
  done
done

results=$out/results.txt
: >"$results"
for name in "${cases[@]}"; do
  lines=${name%%-*}
  fresh=${FRESH:-11} rounds=${ROUNDS:-5} batches=${BATCHES:-3}
  if [ "$lines" -ge "$large" ]; then
    fresh=${FRESH_LARGE:-3} rounds=${ROUNDS_LARGE:-2} batches=${BATCHES_LARGE:-1}
  fi
  src=$out/files/$name.cfg
  [ "$lines" = 59 ] && src=$out/files/59.cfg
  for module in base this; do
    # Each module its own copy, saved once so that every timed save leaves
    # it as it is.
    cp "$src" "$out/files/$name-$module.cfg"
    "$bin/mp4v_compare_driver" "$out/$module.so" save "$out/files/$name-$module.cfg" 1 >/dev/null
  done
  for op in load save; do
    for ((i = 0; i < fresh; ++i)); do
      # Each goes first in every other turn.
      order="base this"; ((i % 2)) && order="this base"
      for module in $order; do
        echo "$name fresh-$op $module $("$bin/mp4v_compare_driver" "$out/$module.so" $op "$out/files/$name-$module.cfg" 1)" >>"$results"
      done
    done
  done
  # The mixed rounds in batches, the two modules taking turns, so that a
  # change in the machine's load falls on both.
  for ((batch = 0; batch < batches; ++batch)); do
    for module in base this; do
      "$bin/mp4v_compare_driver" "$out/$module.so" mixed "$out/files/$name-$module.cfg" "$rounds" |
        sed "s/^\([a-z]*\) /$name mixed-\1 $module /" >>"$results"
    done
  done
  echo "$name done ($(date -u +%T))" >&2
done

python3 - "$results" <<'PY'
import statistics, sys
data = {}
order = []
for line in open(sys.argv[1]):
    name, case, module, ns = line.split()
    if name not in order:
        order.append(name)
    data.setdefault(name, {}).setdefault(case, {}).setdefault(module, []).append(int(ns))
def show(ns):
    if ns >= 1e9: return f"{ns / 1e9:.2f} s"
    return f"{ns / 1e6:.2f} ms" if ns >= 1e6 else f"{ns / 1e3:.0f} us"
def med(name, case, module):
    values = data[name].get(case, {}).get(module)
    return statistics.median(values) if values else None
def ratio(a, b):
    return f"{a / b:.2f}" if a is not None and b else "-"
print("Medians in ns turned to us/ms/s; n = requests per module.")
print()
print("| file | case | base | this | this/base |")
print("|---|---|---:|---:|---:|")
for name in order:
    for case in ("fresh-load", "fresh-save", "mixed-load", "mixed-inih", "mixed-save", "mixed-floor"):
        b, t = med(name, case, "base"), med(name, case, "this")
        if t is None: continue
        n = len(data[name][case]["this"])
        print(f"| {name} | {case} (n={n}) | {show(b) if b else '-'} | {show(t)} | {ratio(t, b)} |")
print()
print("Goals, from the same rounds (mixed): load / inih <= 1.0; save / floor <= 1.5, <= 1.25 at 59 lines.")
print()
print("| file | load/inih base | load/inih this | save/floor base | save/floor this | met |")
print("|---|---:|---:|---:|---:|---|")
for name in order:
    li = {m: ratio(med(name, "mixed-load", m), med(name, "mixed-inih", m)) for m in ("base", "this")}
    sf = {m: ratio(med(name, "mixed-save", m), med(name, "mixed-floor", m)) for m in ("base", "this")}
    limit = 1.25 if name.startswith("59-") else 1.5
    met = []
    if li["this"] != "-": met.append("load" if float(li["this"]) <= 1.0 else "LOAD NOT")
    if sf["this"] != "-": met.append("save" if float(sf["this"]) <= limit else "SAVE NOT")
    print(f"| {name} | {li['base']} | {li['this']} | {sf['base']} | {sf['this']} | {', '.join(met)} |")
PY
