#!/usr/bin/env bash
# Fails on any include from a lower layer to a higher one, or between two
# layers that stand side by side, and on any source file under src/ that
# belongs to no layer.  The layers and their order: tools/layers.txt.
# A quoted include is looked for beside the including file, then in src/ and
# include/ (the library's include folders); one found in neither is not ours.
set -euo pipefail
cd "$(dirname "$0")/.."
layers_file=tools/layers.txt

declare -A rank
row=0
while read -r -a folders; do
  [ ${#folders[@]} -gt 0 ] || continue
  case ${folders[0]} in \#*) continue ;; esac
  row=$((row + 1))
  for folder in "${folders[@]}"; do rank[$folder]=$row; done
done <"$layers_file"

# Sets layer to the layer folder of a file (the nearest listed folder above
# it), or to nothing.
layer_of() {
  local dir=$1
  layer=
  while [[ $dir == */* ]]; do
    dir=${dir%/*}
    if [ -n "${rank[$dir]+set}" ]; then
      layer=$dir
      return
    fi
  done
}

# Sets target to the repository path of a quoted include, or to nothing when
# it is not one of ours.
resolve() {
  local from=$1 name=$2 candidate
  target=
  for candidate in "${from%/*}/$name" "src/$name" "include/$name"; do
    if [ -f "$candidate" ]; then
      target=$candidate
      [[ $target != *..* ]] || target=$(realpath -m --relative-to=. "$target")
      return
    fi
  done
}

failures=0
checked=0
while read -r file; do
  layer_of "$file"
  from=$layer
  if [ -z "$from" ]; then
    if [[ $file == src/* ]]; then
      echo "check-layers: $file belongs to no layer of $layers_file"
      failures=$((failures + 1))
    fi
    continue
  fi
  checked=$((checked + 1))
  while IFS=: read -r line name; do
    resolve "$file" "$name"
    [ -n "$target" ] || continue
    layer_of "$target"
    to=$layer
    if [ -z "$to" ]; then
      echo "check-layers: $file:$line includes $target, which belongs to no layer"
      failures=$((failures + 1))
    elif [ "$to" != "$from" ] && [ "${rank[$to]}" -le "${rank[$from]}" ]; then
      if [ "${rank[$to]}" -eq "${rank[$from]}" ]; then
        why="$to stands beside $from"
      else
        why="$to is a layer above $from"
      fi
      echo "check-layers: $file:$line includes $target: $why"
      failures=$((failures + 1))
    fi
  done < <(grep -nE '^[[:space:]]*#[[:space:]]*include[[:space:]]*"' "$file" |
    sed -E 's/^([0-9]+):[^"]*"([^"]+)".*/\1:\2/')
done < <(git ls-files -- '*.h' '*.hpp' '*.c' '*.cc' '*.cpp')

if [ "$failures" -gt 0 ]; then
  echo "check-layers: $failures include(s) or file(s) against the order of $layers_file"
  exit 1
fi
echo "check-layers: the includes of $checked files keep the order of $layers_file"
