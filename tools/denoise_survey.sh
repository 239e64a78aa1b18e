#!/usr/bin/env bash
# Denoises a tiled survey with GNU parallel: one job per tile, each tile read with the points
# of its neighbours within the buffer, so that points along the tile edges are judged as in
# the whole survey. The neighbours come from a list of every tile's rectangle, made from the
# tiles' headers once, so that each job opens only the tiles that touch its buffer.
#
# usage: tools/denoise_survey.sh [-j jobs] [--sshloginfile file] [-buffered size]
#                                -odir folder tile ... [-- isocull options]
#
# Locally `-j` jobs run at once (default: one per core). With `--sshloginfile` the jobs go to
# the hosts listed there (GNU parallel's format); the tiles, the list and the output folder
# must then lie on a file system every host sees under the same path, and isocull must be
# installed there under the same path too. Exit code: 0 when every tile was done.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
isocull=${ISOCULL:-$here/../build/isocull}
tile_list=${TILE_LIST:-$here/../build/tile_list}
jobs=""
sshloginfile=""
buffer=10
odir=""
tiles=()
options=()

while [ $# -gt 0 ]; do
  case "$1" in
    -j) jobs=$2; shift 2 ;;
    --sshloginfile) sshloginfile=$2; shift 2 ;;
    -buffered) buffer=$2; shift 2 ;;
    -odir) odir=$2; shift 2 ;;
    --) shift; options=("$@"); break ;;
    -*) echo "ERROR: unknown option '$1'" >&2; exit 1 ;;
    *) tiles+=("$1"); shift ;;
  esac
done
if [ -z "$odir" ] || [ ${#tiles[@]} -eq 0 ]; then
  sed -n '7,8p' "$0" | sed 's/^# //' >&2
  exit 1
fi
command -v parallel >/dev/null 2>&1 || { echo "ERROR: GNU parallel is not installed (apt-get install parallel)" >&2; exit 1; }
mkdir -p "$odir"

# Absolute names: the same text names a tile in the list and on the command line, and on
# every host.
absolute=()
for tile in "${tiles[@]}"; do absolute+=("$(cd "$(dirname "$tile")" && pwd)/$(basename "$tile")"); done
list="$odir/tiles.lof"
"$tile_list" "${absolute[@]}" > "$list"

args=(--halt never --joblog "$odir/jobs.log")
[ -n "$jobs" ] && args+=(-j "$jobs")
[ -n "$sshloginfile" ] && args+=(--sshloginfile "$sshloginfile")
parallel "${args[@]}" "$isocull" -i {} -buffered "$buffer" -neighbors_lof "$list" \
  -odir "$odir" "${options[@]}" ::: "${absolute[@]}"
