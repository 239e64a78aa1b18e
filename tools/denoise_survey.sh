#!/usr/bin/env bash
# Denoises a tiled survey with GNU parallel: one job per tile, each tile read with the points
# of its neighbours within the buffer, so that points along the tile edges are judged as in
# the whole survey. The neighbours come from a list of every tile's rectangle, made from the
# tiles' headers once, so that each job opens only the tiles that touch its buffer.
#
# usage: isocull-survey [-j jobs] [--sshloginfile file] [-buffered size]
#                       -odir folder tile ... [-- isocull options]
#
# The buffer is by default two cells of the step (-step or -step_xy among the isocull
# options, else the default step: 8 in metres, 24 in feet, as -meter, -feet or
# -survey_feet there or else the first tile's header give the unit), the least that gives
# every point the verdict of the whole survey.
# Locally `-j` jobs run at once (default: one per core). With `--sshloginfile` the jobs go to
# the hosts listed there (GNU parallel's format); the tiles, the list and the output folder
# must then lie on a file system every host sees under the same path, and isocull must be
# installed there under the same path too. Exit code: 0 when every tile was done.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
# Installed, the programs lie beside the script; in the source tree, in build/.
program() {
  if [ -x "$here/$1" ]; then echo "$here/$1"
  elif [ -x "$here/../build/$1" ]; then echo "$here/../build/$1"
  else command -v "$1" || echo "$1"
  fi
}
isocull=${ISOCULL:-$(program isocull)}
tile_list=${TILE_LIST:-$(program tile_list)}
jobs=""
sshloginfile=""
buffer=""
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
# Two cells of the step the jobs use (the last -step or -step_xy given wins, as in isocull;
# a unit given there decides the default step in place of the tiles' headers).
if [ -z "$buffer" ]; then
  step=""
  for ((k = 0; k < ${#options[@]}; k++)); do
    case "${options[k]}" in
      -step|-step_xy) [ $((k + 1)) -lt ${#options[@]} ] && step=${options[k+1]} ;;
      -feet|-survey_feet) [ -z "$step" ] && step=12 ;;
      -meter) [ -z "$step" ] && step=4 ;;
    esac
  done
  if [ -n "$step" ]; then
    buffer=$(awk -v step="$step" 'BEGIN { printf "%g", 2 * step }')
  else
    buffer=$("$tile_list" -least_buffer "${tiles[0]}")
  fi
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
