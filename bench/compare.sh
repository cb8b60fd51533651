#!/usr/bin/env bash
# Compares this tree's load and save requests with another commit's build of
# the module (default b8a0689), on the benchmark's files of 59, 1,000 and
# 50,000 lines, both built the same way (Release, -O2):
#   fresh  one request in each of FRESH new processes (what a host meets the
#          first time), the two modules' processes taking turns;
#   warm   ROUNDS requests in one process, in BATCHES processes per module
#          taking turns: loads alone, saves alone, and rounds of the
#          module's load, inih's parse, a plain read and the module's save of
#          the same file (the allocator's state between requests then is a
#          host's, not a benchmark's).
# Prints the medians and the ratio this/base per case.
#
#   bash bench/compare.sh [BASE_COMMIT]  (FRESH=21 ROUNDS=11 BATCHES=3 by default;
#   SIZES="59 1000 50000" the files' lines, any sizes the generator makes)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
base=$(git -C "$root" rev-parse --verify "${1:-b8a0689}^{commit}")
fresh=${FRESH:-21}
rounds=${ROUNDS:-11}
batches=${BATCHES:-3}
sizes=${SIZES:-59 1000 50000}
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

# The files: a save of the example record to a new file, and the host files.
rm -f "$out/files/59.cfg"
"$bin/mp4vcfg" --module "$out/this.so" set "$out/files/59.cfg" width=720 height=576 frame_rate=29.97 >/dev/null
for lines in $sizes; do
  [ "$lines" = 59 ] || "$bin/mp4v_profile_driver" generate "$lines" "$out/files/$lines.cfg"
done

results=$out/results.txt
: >"$results"
for lines in $sizes; do
  for module in base this; do
    # Each module its own copy, saved once so that every timed save leaves
    # it as it is.
    cp "$out/files/$lines.cfg" "$out/files/$lines-$module.cfg"
    "$bin/mp4v_compare_driver" "$out/$module.so" save "$out/files/$lines-$module.cfg" 1 >/dev/null
  done
  for op in load save; do
    for ((i = 0; i < fresh; ++i)); do
      # Each goes first in every other turn.
      order="base this"; ((i % 2)) && order="this base"
      for module in $order; do
        echo "$lines fresh-$op $module $("$bin/mp4v_compare_driver" "$out/$module.so" $op "$out/files/$lines-$module.cfg" 1)" >>"$results"
      done
    done
  done
  # The warm loops in batches, the two modules taking turns, so that a
  # change in the machine's load falls on both.
  for ((batch = 0; batch < batches; ++batch)); do
    for module in base this; do
      for op in load save; do
        "$bin/mp4v_compare_driver" "$out/$module.so" $op "$out/files/$lines-$module.cfg" "$rounds" |
          sed "s/^/$lines warm-$op $module /" >>"$results"
      done
      "$bin/mp4v_compare_driver" "$out/$module.so" mixed "$out/files/$lines-$module.cfg" "$rounds" |
        sed "s/^\([a-z]*\) /$lines mixed-\1 $module /" >>"$results"
    done
  done
done

python3 - "$results" <<'PY'
import statistics, sys
data = {}
for line in open(sys.argv[1]):
    lines, case, module, ns = line.split()
    data.setdefault((int(lines), case), {}).setdefault(module, []).append(int(ns))
def show(ns):
    return f"{ns / 1e6:.3f} ms" if ns >= 1e6 else f"{ns / 1e3:.1f} us"
print("| lines | case | base median | this median | this/base |")
print("|---:|---|---:|---:|---:|")
for (lines, case), by in sorted(data.items()):
    b, t = statistics.median(by["base"]), statistics.median(by["this"])
    print(f"| {lines} | {case} (n={len(by['this'])}) | {show(b)} | {show(t)} | {t / b:.2f} |")
PY
