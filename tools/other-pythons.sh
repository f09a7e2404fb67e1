#!/usr/bin/env bash
# Installs this checkout into a fresh virtual environment for each of the
# oldest and the newest supported interpreters found on the machine (on PATH
# or among pyenv's versions) and runs the test suite there. An interpreter
# that is not found is skipped with a line saying so.
#
#   tools/other-pythons.sh            # oldest and newest found
#   tools/other-pythons.sh 3.10 3.12  # these versions
set -euo pipefail
cd "$(dirname "$0")/.."
versions=("$@")
supported=(3.9 3.10 3.11 3.12 3.13)

find_python() {
    local v=$1 exe
    for exe in "python$v" "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$v".*/bin/python"$v"; do
        if command -v "$exe" >/dev/null 2>&1 &&
           "$exe" -c "import sys; assert sys.version_info[:2] == tuple(map(int, '$v'.split('.')))" 2>/dev/null; then
            command -v "$exe"
            return 0
        fi
    done
    return 1
}

if [[ ${#versions[@]} -eq 0 ]]; then
    found=()
    for v in "${supported[@]}"; do
        find_python "$v" >/dev/null && found+=("$v")
    done
    if [[ ${#found[@]} -eq 0 ]]; then
        echo "other-pythons: no interpreter of ${supported[*]} found; skipped"
        exit 0
    fi
    versions=("${found[0]}")
    [[ ${#found[@]} -gt 1 ]] && versions+=("${found[-1]}")
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for v in "${versions[@]}"; do
    exe=$(find_python "$v") || { echo "other-pythons: Python $v not found; skipped"; continue; }
    echo "== Python $v ($exe)"
    "$exe" -m venv "$work/$v"
    "$work/$v/bin/python" -m pip install -q --upgrade pip
    "$work/$v/bin/python" -m pip install -q ".[test]"
    "$work/$v/bin/python" -c "import numpy, scipy, lxml; print('numpy', numpy.__version__, 'scipy', scipy.__version__, 'lxml', lxml.__version__)"
    "$work/$v/bin/python" -m pytest -q -p no:cacheprovider tests
done
