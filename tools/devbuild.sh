#!/usr/bin/env bash
# Incremental development build into build/<name> (default: dev).
# Use the result with: PYTHONPATH=build/<name> python -m pytest tests
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:-dev}
cmake -S . -B "build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "build/$name" -j2
