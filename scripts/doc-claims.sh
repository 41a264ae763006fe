#!/usr/bin/env bash
# Checks the claims of docs/architecture.md that a grep can hold (see its
# last section), so that the document cannot drift from the code silently.
# Prints each broken claim with what breaks it; exit status 1 if any.
#
#   bash scripts/doc-claims.sh
set -uo pipefail
cd "$(dirname "$0")/.."
broken=0

# Each claim: what it says, and a command whose output breaks it.
claim() {
  local what="$1"
  shift
  local found
  found="$("$@" 2>/dev/null)"
  if [ -n "$found" ]; then
    echo "doc-claims: not true: $what"
    echo "$found" | sed 's/^/    /' | head -20
    broken=1
  fi
}

sources() { find src -name '*.cpp' -o -name '*.h' -o -name '*.cpp.in'; }

claim "no SQL statement text in src/station" grep -rniE '"\s*(SELECT|INSERT|UPDATE|DELETE)\s' src/station
claim "no Dialect in src/station" grep -rnw 'Dialect' src/station
claim "nothing in src/station or src/db declares beep, closeWindow, showProgress or hideProgress" \
  grep -rnE '\b(beep|closeWindow|showProgress|hideProgress)\s*\(' src/station src/db
claim "no StationView and no BusEvent::Kind" grep -rnE '\bStationView\b|BusEvent::Kind' src
claim "a station number is compared in StationRole.h only" \
  bash -c "grep -rnE '\bstation\s*[!=]=\s*[0-9]' src --include=*.cpp --include=*.h | grep -v '^src/station/StationRole.h:'"
claim "the steady clock is read through its seam in src/station and src/reader (the line's thread excepted)" \
  bash -c "grep -rn 'steady_clock::now' src/station src/reader | grep -v '^src/reader/osdp/OsdpLink.cpp:'"
claim "no file in src over 400 lines" \
  bash -c "find src \( -name '*.cpp' -o -name '*.h' \) -exec awk 'END { if (NR > 400) print FILENAME \": \" NR \" lines\" }' {} \;"

claim "no class spread over several source files" python3 - <<'PY'
import os, re
definition = re.compile(r"^[A-Za-z_][^(;{}]*?\b([A-Z][A-Za-z0-9]+)::~?[A-Za-z_][A-Za-z0-9_]*\(")
files = {}
for root, _, names in os.walk("src"):
    for name in names:
        if name.endswith(".cpp"):
            path = os.path.join(root, name)
            with open(path, encoding="utf-8", errors="replace") as text:
                for line in text:
                    m = definition.match(line)
                    if m:
                        files.setdefault(m.group(1), set()).add(path)
for cls, paths in sorted(files.items()):
    if len(paths) > 1:
        print(f"{cls}: " + " ".join(sorted(paths)))
PY

# The stack, bottom up; a file's includes may name headers of its own
# layer and those below it only.
claim "no include from a layer to one above it" python3 - <<'PY'
import os, re
stack = ["config", "db", "reader", "rights", "spaces", "records", "station", "web", "ui", "app"]
rank = {layer: i for i, layer in enumerate(stack)}
home = {}
for layer in stack:
    for root, _, files in os.walk(os.path.join("src", layer)):
        for f in files:
            if f.endswith(".h"):
                home.setdefault(f, layer)
include = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
for layer in stack:
    for root, _, files in os.walk(os.path.join("src", layer)):
        for f in sorted(files):
            if not f.endswith((".cpp", ".h", ".cpp.in")):
                continue
            path = os.path.join(root, f)
            with open(path, encoding="utf-8", errors="replace") as text:
                for number, line in enumerate(text, 1):
                    m = include.match(line)
                    if not m:
                        continue
                    target = home.get(os.path.basename(m.group(1)))
                    if target and rank[target] > rank[layer]:
                        print(f"{path}:{number}: {layer} includes {m.group(1)} of {target}")
PY

if [ "$broken" -ne 0 ]; then
  echo "doc-claims: docs/architecture.md and the code disagree (see above)" >&2
  exit 1
fi
echo "doc-claims: every checked claim of docs/architecture.md holds"
