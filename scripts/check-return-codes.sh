#!/usr/bin/env bash
# Checks that the return-code lists an administrator imports name exactly the
# codes `ClearonCheck deploy` ends with: the Intune JSON, the Configuration
# Manager script, the README's deploy table and the fleet guide's table hold
# the same codes, and the JSON and the script give each the same kind.
# Usage: check-return-codes.sh [README] (default: the repository's README.md)
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
readme=${1:-$root/README.md}
python3 - "$readme" "$root/docs/fleet-deployment.md" \
  "$root/docs/return-codes/intune-returnCodes.json" \
  "$root/docs/return-codes/configmgr-returnCodes.ps1" <<'EOF'
import json, re, sys

readme, guide, json_path, ps1_path = sys.argv[1:5]
faults = []

def deploy_table(path):
    """The codes in the first column of the one table that names 1460 there
    (deploy's time limit, a code only deploy ends with)."""
    tables, rows = [], []
    for line in open(path, encoding="utf-8").read().splitlines() + [""]:
        if line.startswith("|"):
            rows.append(line)
        elif rows:
            tables.append(rows)
            rows = []
    found = []
    for table in tables:
        codes = set()
        for row in table[2:]:  # past the header and its rule
            cell = row.split("|")[1]
            for a, b in re.findall(r"(\d+)\s*(?:-|–|to)\s*(\d+)", cell):
                if int(a) < int(b) <= int(a) + 100:
                    codes.update(range(int(a), int(b) + 1))
            codes.update(int(n) for n in re.findall(r"\d+", cell))
        if 1460 in codes:
            found.append(codes)
    if len(found) != 1:
        faults.append(f"{path}: {len(found)} tables name 1460 in their first column, not one")
        return set()
    return found[0]

intune_kinds = {"success", "softReboot", "hardReboot", "retry", "failed"}
cm_kind_of = {"Success": "success", "SoftReboot": "softReboot", "HardReboot": "hardReboot",
              "FastRetry": "retry", "Failure": "failed"}

intune = {}
try:
    entries = json.load(open(json_path, encoding="utf-8"))
except (OSError, ValueError) as e:
    faults.append(f"{json_path}: {e}")
    entries = []
for e in entries:
    code, kind = e.get("returnCode"), e.get("type")
    if e.get("@odata.type") != "#microsoft.graph.win32LobAppReturnCode" \
            or not isinstance(code, int) or kind not in intune_kinds:
        faults.append(f"{json_path}: not a win32LobAppReturnCode: {e}")
    elif code in intune:
        faults.append(f"{json_path}: {code} twice")
    else:
        intune[code] = kind

cm = {}
for n, line in enumerate(open(ps1_path, encoding="utf-8"), 1):
    if not line.startswith("Add-CMDeploymentTypeReturnCode"):
        continue
    code = re.search(r"-ReturnCode (\d+)\b", line)
    kind = re.search(r"-CodeType (\w+)", line)
    if not code or not kind or kind.group(1) not in cm_kind_of:
        faults.append(f"{ps1_path}:{n}: no -ReturnCode or no known -CodeType")
    elif int(code.group(1)) in cm:
        faults.append(f"{ps1_path}:{n}: {code.group(1)} twice")
    else:
        cm[int(code.group(1))] = cm_kind_of[kind.group(1)]

lists = {json_path: set(intune), ps1_path: set(cm),
         readme: deploy_table(readme), guide: deploy_table(guide)}
every = set().union(*lists.values())
for path, codes in lists.items():
    if codes and every - codes:
        faults.append(f"{path}: lacks {', '.join(map(str, sorted(every - codes)))}")
for code in sorted(set(intune) & set(cm)):
    if intune[code] != cm[code]:
        faults.append(f"{code}: {intune[code]} in the JSON, {cm[code]} in the script")

for fault in faults:
    print(fault)
if faults:
    sys.exit(1)
print(f"Return codes: {len(every)} codes agree in the JSON, the script, the README and the guide")
EOF
