#!/usr/bin/env bash
# Builds the release package from the committed tree (HEAD) and writes to
# dist/:
#   demo_config_mp4v-<version>-win32.zip                  DLLs, mp4vcfg.exe, header, README.txt, LICENSE, SHA256SUMS
#   demo_config_mp4v-<version>-win32-symbols.zip          a PDB and a DWARF .debug file per Windows binary, SHA256SUMS-symbols
#   demo_config_mp4v-<version>-win64.zip                  the same for 64-bit Windows (x86-64)
#   demo_config_mp4v-<version>-win64-symbols.zip
#   demo_config_mp4v-<version>-linux-x86_64.tar.gz        the .so, mp4vcfg, header, README.txt, LICENSE, SHA256SUMS
#   demo_config_mp4v-<version>-linux-x86_64-symbols.tar.gz  a DWARF .debug file per Linux binary, SHA256SUMS-symbols
#   SHA256SUMS                                            of the six archives
# Each archive unpacks into one folder named like its binaries' archive
# (demo_config_mp4v-<version>-win32/, ...): a symbols archive unpacked in
# the same place puts its files beside the binaries, where debuggers look,
# and overwrites nothing. Two runs on the same commit give the same bytes,
# in any folder.
#
#   bash scripts/package.sh [--work DIR] [--out DIR] [--source DIR] [--no-setup]
#
#   --work DIR    the folder for the source copy and the builds (emptied
#                 first; default build/package)
#   --out DIR     where the archives go (default dist)
#   --source DIR  package this source tree instead of HEAD (its dates come
#                 from SOURCE_DATE_EPOCH, else its git HEAD, else 1980-01-01)
#   --no-setup    do not run scripts/setup.sh first
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${JOBS:-2}
work=$root/build/package
out=$root/dist
source_dir=
setup=1
while [ $# -gt 0 ]; do
  case $1 in
    --work) work=$2; shift 2 ;;
    --out) out=$2; shift 2 ;;
    --source) source_dir=$2; shift 2 ;;
    --no-setup) setup=; shift ;;
    -h|--help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
    *) echo "package: unknown argument: $1" >&2; exit 2 ;;
  esac
done
die() { echo "package: $*" >&2; exit 1; }

if [ -n "$setup" ]; then bash scripts/setup.sh; fi

work=$(realpath -m "$work")
out=$(realpath -m "$out")
case "$root/" in "$work/"*) die "--work must not hold the repository" ;; esac
rm -rf "$work"
mkdir -p "$work/src" "$out"
src=$work/src

# ---- The source: the committed tree, and the date everything carries ------
if [ -z "$source_dir" ]; then
  git -C "$root" rev-parse --verify -q HEAD >/dev/null || die "no commit to package (or use --source DIR)"
  if [ -n "$(git -C "$root" status --porcelain --untracked-files=no)" ]; then
    echo "package: note: uncommitted changes are not in the package (it is built from HEAD)" >&2
  fi
  git -C "$root" archive --format=tar HEAD | tar -x -C "$src"
  epoch=${SOURCE_DATE_EPOCH:-$(git -C "$root" log -1 --format=%ct HEAD)}
else
  [ -f "$source_dir/src/api/version.h" ] || die "$source_dir: not a source tree"
  tar -C "$source_dir" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -x -C "$src"
  epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source_dir" log -1 --format=%ct HEAD 2>/dev/null || echo 315532800)}
fi
export SOURCE_DATE_EPOCH=$epoch

# The version's one source.
version=$(for part in MAJOR MINOR PATCH BUILD; do
  sed -n "s/^#define MP4V_VERSION_$part \([0-9][0-9]*\)$/\1/p" "$src/src/api/version.h"
done | paste -sd.)
[[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]] || die "no version in src/api/version.h"
name=demo_config_mp4v-$version
echo "package: $name from $( [ -z "$source_dir" ] && git -C "$root" rev-parse --short HEAD || echo "$source_dir")"

# ---- Release builds: no tests, reproducible flags --------------------------
build() {  # folder, cmake arguments...
  local dir=$1; shift
  local t0=$SECONDS
  { cmake -S "$src" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DMP4V_TESTS=OFF -DMP4V_RELEASE=ON "$@" &&
    cmake --build "$dir" -j"$jobs"; } >"$dir.log" 2>&1 || { tail -n 40 "$dir.log"; die "build failed: $dir (log: $dir.log)"; }
  echo "package: built $(basename "$dir") in $((SECONDS - t0)) s"
}
build "$work/build-win32" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-i686.cmake"
build "$work/build-win64" -DCMAKE_TOOLCHAIN_FILE="$src/cmake/mingw-x86_64.cmake"
build "$work/build-linux"

# ---- Stripped binaries and their symbols -------------------------------------
# The debugging information goes to NAME.debug in the symbols folder; the
# shipped binary is stripped and carries a debug link (file name and CRC) to
# that file.
split_symbols() {  # tool prefix, binary, stage folder, symbols folder, strip options...
  local tools=$1 binary=$2 stage=$3 symbols=$4; shift 4
  local file
  file=$(basename "$binary")
  "${tools}objcopy" --only-keep-debug "$binary" "$symbols/$file.debug"
  "${tools}strip" "$@" -o "$stage/$file" "$binary"
  (cd "$symbols" && "${tools}objcopy" --add-gnu-debuglink="$file.debug" "$stage/$file")
  chmod 0755 "$stage/$file"
  chmod 0644 "$symbols/$file.debug"
}

# The integrators' documents: README.txt from its template (the lines marked
# @GUI@ only when the settings-pages library is shipped; for Windows with CR
# LF line ends, as Windows text files have them), the license, the header.
documents() {  # template, stage folder, with the pages library (1 or empty), archive suffix, system, line ends (crlf or empty)
  local template=$1 stage=$2 gui=$3 arch=${4:-} system=${5:-} line_ends=${6:-}
  mkdir -p "$stage/include"
  cp "$src/include/mp4v_config.h" "$stage/include/"
  cp "$src/LICENSE" "$stage/LICENSE"
  local keep='s/^@GUI@//'
  [ -n "$gui" ] || keep='/^@GUI@/d'
  sed -e "s/@VERSION@/$version/g" -e "s/@ARCH@/$arch/g" -e "s/@SYSTEM@/$system/g" -e "$keep" "$template" >"$stage/README.txt"
  [ "$line_ends" != crlf ] || python3 "$src/scripts/package_archive.py" crlf "$stage/README.txt"
  chmod 0644 "$stage/include/mp4v_config.h" "$stage/LICENSE" "$stage/README.txt"
}

stage=$work/stage
linux=$stage/linux-x86_64 linux_symbols=$stage/linux-x86_64-symbols
mkdir -p "$linux" "$linux_symbols"

# Each Windows architecture: its build, its tools, what its README calls it.
windows() {  # archive suffix, tool prefix, system
  local arch=$1 tools=$2 system=$3 file pdb
  local bin=$work/build-$arch/bin win=$stage/$arch win_symbols=$stage/$arch-symbols
  mkdir -p "$win" "$win_symbols"
  gui=
  for file in demo_config_mp4v.dll demo_config_gui_mp4v.dll mp4vcfg.exe; do
    if [ ! -f "$bin/$file" ]; then
      # The settings-pages library is shipped once the build has it.
      [ "$file" = demo_config_gui_mp4v.dll ] && continue
      die "the Windows ($arch) build made no $file"
    fi
    [ "$file" = demo_config_gui_mp4v.dll ] && gui=1
    split_symbols "$tools" "$bin/$file" "$win" "$win_symbols" --strip-all
    pdb=$work/build-$arch/${file%.*}.pdb
    [ -f "$pdb" ] || die "the Windows ($arch) build made no ${file%.*}.pdb"
    cp "$pdb" "$win_symbols/"
    chmod 0644 "$win_symbols/${file%.*}.pdb"
    python3 "$src/scripts/pdb_paths.py" "$win_symbols/${file%.*}.pdb" --strip "$work/build-$arch" --strip "$src"
  done
  documents "$src/packaging/README-windows.txt" "$win" "$gui" "$arch" "$system" crlf
}
windows win32 i686-w64-mingw32- "32-bit Windows (IA-32)"
windows win64 x86_64-w64-mingw32- "64-bit Windows (x86-64)"

bin=$work/build-linux/bin
[ -f "$bin/demo_config_mp4v.so" ] && [ -f "$bin/mp4vcfg" ] || die "the Linux build made no demo_config_mp4v.so or mp4vcfg"
split_symbols "" "$bin/demo_config_mp4v.so" "$linux" "$linux_symbols" --strip-unneeded
split_symbols "" "$bin/mp4vcfg" "$linux" "$linux_symbols" --strip-all
documents "$src/packaging/README-linux.txt" "$linux" ""

# ---- Archives -----------------------------------------------------------------
archive=$src/scripts/package_archive.py
rm -f "$out"/demo_config_mp4v-*.zip "$out"/demo_config_mp4v-*.tar.gz "$out/SHA256SUMS"
archives=()
for system in win32 win64 linux-x86_64; do
  kind=zip ext=zip
  [ "$system" = linux-x86_64 ] && kind=tar ext=tar.gz
  # The symbols go into the binaries' folder, their checksums under a name
  # of their own.
  python3 "$archive" sums "$stage/$system"
  python3 "$archive" sums "$stage/$system-symbols" --name SHA256SUMS-symbols
  python3 "$archive" $kind "$out/$name-$system.$ext" "$stage/$system" --epoch "$epoch" --top "$name-$system"
  python3 "$archive" $kind "$out/$name-$system-symbols.$ext" "$stage/$system-symbols" --epoch "$epoch" --top "$name-$system"
  archives+=("$name-$system.$ext" "$name-$system-symbols.$ext")
done
(cd "$out" && sha256sum "${archives[@]}" >SHA256SUMS)
echo "package: written to $out ($( [ -n "$gui" ] && echo "with" || echo "without") the settings-pages library)"
(cd "$out" && for f in "${archives[@]}"; do
  printf '  %9d bytes  %s  %s\n' "$(stat -c %s "$f")" "$(sha256sum "$f" | cut -d' ' -f1)" "$f"
done)
