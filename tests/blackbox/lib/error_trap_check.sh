#!/usr/bin/env bash
# A black-box script that stops at a failing step names it (file, line,
# command, and the function it failed in); a failure the script handles
# itself says nothing. Each case is a small broken script run on its own.
set -u
lib=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0

# name # script body after sourcing the trap (\n between lines) # expected output
cases=(
  "a step at the top#true\ntest -e /nonexistent\necho unreachable#FAIL: broken.sh:4: 'test -e /nonexistent' ended with 1"
  "a step in a function#f() {\n  false\n}\nf\necho unreachable#FAIL: broken.sh:4: 'false' ended with 1; in f, called from broken.sh:6"
  "handled failures#false || true\nset +e\nfalse\nset -e\n! true\necho done#done"
)
for row in "${cases[@]}"; do
  IFS='#' read -r name body expected <<<"$row"
  printf 'set -eu\n. "%s/error_trap.sh"\n%b\n' "$lib" "$body" >"$work/broken.sh"
  output=$(bash "$work/broken.sh" 2>&1)
  if [ "$output" != "$expected" ]; then
    echo "FAIL: $name: got '$output', expected '$expected'"
    status=1
  fi
done
exit $status
