# Sourced by every black-box script (through wine_session.sh).

# A failing step under `set -e` names itself before the script stops: its
# file, line, command and exit code, and the functions it was called through.
# Without this, a script that stops before its first line of output leaves
# nothing to read. Failures that a script handles itself (`|| ...`, `if`,
# `set +e`) stay quiet.
set -E
step_failed() {  # exit code, line, command
  case $- in *e*) ;; *) return 0 ;; esac
  local where="${BASH_SOURCE[1]##*/}:$2" calls="" i
  for ((i = 1; i < ${#FUNCNAME[@]} - 1; i++)); do
    calls+=" in ${FUNCNAME[i]}, called from ${BASH_SOURCE[i + 1]##*/}:${BASH_LINENO[i]};"
  done
  echo "FAIL: $where: '$3' ended with $1${calls:+;${calls%;}}" >&2
}
trap 'step_failed $? "$LINENO" "$BASH_COMMAND"' ERR
