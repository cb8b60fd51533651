#!/usr/bin/env bash
# Renders every page of the settings pages, as they show a settings file, to
# PNG files: page-1-picture.png, page-2-rate-control.png, ...
#
#   bash scripts/render-pages.sh [--dpi N] [--lang de] SETTINGS_FILE [OUTPUT_DIR]   (default docs/pages)
#
# --dpi N shows them at N dots per inch (96 is 100%, 144 is 150%), in a Wine
# prefix of its own (scripts/wine-dpi.sh). --lang de shows them to a German
# user (the pages follow the user's language), in files named ...-de.png;
# without it the user is an English one.
#
# Needs the Windows build in build/win32 (pages_render.exe, the module and the
# pages library), Xvfb and ImageMagick (scripts/setup.sh installs them). The
# pages run on a virtual X display, inside a Wine desktop window of their own
# (so Wine draws the title bar), and ImageMagick's import takes each page from
# the screen, cropped to the dialog.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
dpi=""
lang=""
while [ $# -gt 0 ]; do
  case $1 in
    --dpi) dpi=${2:?--dpi needs a number}; shift 2 ;;
    --lang) lang=${2:?--lang needs a language}; shift 2 ;;
    *) break ;;
  esac
done
[ $# -ge 1 ] || { sed -n '2,11p' "$0"; exit 2; }
case $lang in
  "") export LANG=C.UTF-8 LC_ALL=C.UTF-8 LC_MESSAGES=C.UTF-8 ;;
  de) export LANG=de_DE.UTF-8 LC_ALL=de_DE.UTF-8 LC_MESSAGES=de_DE.UTF-8 ;;
  *) echo "render-pages: the pages speak English and German (--lang de) alone" >&2; exit 2 ;;
esac
file=$(realpath "$1")
out=$(realpath -m "${2:-docs/pages}")
renderer=$root/build/win32/bin/pages_render.exe
[ -f "$renderer" ] || { echo "render-pages: build the Windows target first ($renderer is missing)" >&2; exit 1; }
[ -f "$file" ] || { echo "render-pages: no such file: $file" >&2; exit 1; }
mkdir -p "$out"

source scripts/wine-env.sh
source scripts/wine-dpi.sh
source scripts/xvfb.sh
xvfb_start
trap 'xvfb_stop; wine_dpi_stop' EXIT
if [ -n "$dpi" ]; then wine_dpi_start "$dpi"; fi

titles=("picture" "rate-control" "gop-and-b-frames" "motion-search" "h263-and-resilience" "other")
# The renderer says where the dialog is for each page and waits for a line
# on its standard input before it brings the next page forward.
cd "$(dirname "$file")"
coproc RENDER { exec wine explorer "/desktop=mp4v-pages-$$,1280x1024" "$renderer" "$(basename "$file")" 2>&1; }
render_pid=$RENDER_PID
count=0
while IFS= read -r -t 120 line <&"${RENDER[0]}"; do
  line=${line%$'\r'}
  read -r word page x y width height <<<"$line" || true
  [ "$word" = page ] || { echo "render-pages: $line" >&2; continue; }
  name=$(printf 'page-%d-%s%s%s.png' $((page + 1)) "${titles[$page]:-page}" "${dpi:+-${dpi}dpi}" "${lang:+-$lang}")
  import -window root -crop "${width}x${height}+${x}+${y}" +repage "$out/$name"
  echo "$out/$name"
  count=$((count + 1))
  echo >&"${RENDER[1]}"
done
wait "$render_pid" 2>/dev/null || true
[ "$count" -eq ${#titles[@]} ] || { echo "render-pages: $count of ${#titles[@]} pages rendered" >&2; exit 1; }
