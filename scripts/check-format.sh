#!/usr/bin/env bash
# Checks that every C++ source in the repository is formatted by the
# repository's own .clang-format; lists the files that drift and fails if any do.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root" || exit 1
drift=()
while IFS= read -r file; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    drift+=("$file")
  fi
done < <(git ls-files '*.cpp' '*.h')
if [ ${#drift[@]} -gt 0 ]; then
  echo "Not formatted by .clang-format (run clang-format -i on them):"
  printf '  %s\n' "${drift[@]}"
  exit 1
fi
echo "Formatting: every C++ source matches .clang-format"
