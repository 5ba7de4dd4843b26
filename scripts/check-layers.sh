#!/usr/bin/env bash
# Checks that every include in src/ points down the layer order stated in the
# README ("How the code is laid out"):
#   text < platform < log < config < resume < removal < ui < startup
# with check beside startup: it may include every layer below startup, but not
# startup, and startup does not include check. A layer's subfolders (check's
# rooms: cli, lint, preview, logs, deploy) are that layer. An include within
# a layer is always allowed. Lists every include that points up and fails if any does.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1

rank() {
  case "$1" in
    text) echo 0 ;;
    platform) echo 1 ;;
    log) echo 2 ;;
    config) echo 3 ;;
    resume) echo 4 ;;
    removal) echo 5 ;;
    ui) echo 6 ;;
    startup | check) echo 7 ;;
    *) echo "" ;;
  esac
}

bad=()
while IFS= read -r file; do
  from=$(echo "$file" | cut -d/ -f2)
  from_rank=$(rank "$from")
  [ -n "$from_rank" ] || continue
  while IFS= read -r target; do
    to=${target%%/*}
    to_rank=$(rank "$to")
    [ -n "$to_rank" ] || continue
    [ "$to" = "$from" ] && continue
    if [ "$to_rank" -ge "$from_rank" ]; then
      bad+=("$file -> $target")
    fi
  done < <(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]+"([a-z_]+\/[^"]+)".*/\1/p' "$file")
done < <(git ls-files 'src/*.cpp' 'src/*.h' 'src/*.rc')

if [ ${#bad[@]} -gt 0 ]; then
  echo "Includes that point up the layer order:"
  printf '  %s\n' "${bad[@]}"
  exit 1
fi
echo "Layers: every include in src/ points down the layer order"
