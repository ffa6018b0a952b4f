#!/usr/bin/env bash
# Runs the README's install commands as a new user would, with another
# Python than Debian's first on PATH (pyenv and conda put theirs there):
# here a python3 and a pip that fail when used, so that nothing may take
# them. The package must then load the libraries bundled into it, taken from
# the build folder rather than built again, and detect the built-in network.
#   python.sh BUILD_DIR WORK_DIR
set -euo pipefail

build=$(cd "$1" && pwd) work=$2
prefix=$work/prefix
checkout=$(cd "$(dirname "$0")/../.." && pwd)

fail() { echo "python install test: $*" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/foreign"
for name in python3 python pip pip3; do
  printf '#!/bin/sh\necho "the first %s on PATH was used" >&2\nexit 97\n' "$name" >"$work/foreign/$name"
  chmod +x "$work/foreign/$name"
done

# The first sh block of the README's Installing section, at places of this test.
commands=$(awk '/^## Installing$/ {section = 1} section && /^```sh$/ {block = 1; next}
                block && /^```$/ {exit} block {print}' "$checkout/README.md" | sed 's/ *#.*$//')
[[ $(grep -c . <<<"$commands") -eq 3 ]] || fail "the Installing section has no block of three commands"
commands=${commands//"cmake --install build"/"cmake --install \"$build\""}
commands=${commands//"~/.local"/"\"$prefix\""}
commands=${commands//"~/.venvs/onset"/"\"$work/venv\""}

cd "$checkout"
PATH="$work/foreign:$PATH" ONSET_BUILD_DIR="$build" PIP_VERBOSE=1 PIP_NO_INDEX=1 \
  bash -euo pipefail -c "$commands" >"$work/log" 2>&1 || { tail -20 "$work/log" >&2; fail "the commands failed"; }
grep -q "onset: the libraries of $build, brought up to date" "$work/log" \
  || fail "pip did not take the libraries of $build"

"$prefix/bin/onset-detect" --write-synthetic "$work/sds" >/dev/null
code='import onset, onset._engine as e
print(onset.library_path); print(e.engine_path())
print(onset.detect_files("'"$work/sds"'"))'
found=$(cd "$work" && env -u LD_LIBRARY_PATH -u ONSET_LIBRARY -u PYTHONPATH PATH="$work/foreign:$PATH" \
  "$work/venv/bin/python3" -c "$code") || fail "the installed package does not run"
package=$(find "$work/venv" -name __init__.py -path '*/onset/*' -printf '%h\n')
[[ "$found" == "$package/libonset.so.1"$'\n'"$package/libonset-detect.so.1"$'\n'"Detection(5 events, "* ]] \
  || fail "unexpected: $found"
echo "python install test passed"
