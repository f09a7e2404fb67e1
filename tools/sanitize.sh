#!/usr/bin/env bash
# Builds every extension module of the CMake project with AddressSanitizer and
# UndefinedBehaviorSanitizer into build/<name> (default: asan) and runs the
# test suite against that build. Arguments go to pytest (default: -q tests).
#
#   tools/sanitize.sh                      # whole suite
#   tools/sanitize.sh -x tests/test_basis.py
#
# The interpreter itself is not instrumented: the ASan runtime is preloaded,
# leak detection is off (CPython keeps memory until exit by design) and Python
# objects are allocated with malloc, so that ASan sees them too. The first
# report ends the run with a nonzero status.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${SANITIZE_BUILD:-asan}
dir="build/$name"
flags="-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined"

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_CXX_FLAGS="$flags" \
    -DCMAKE_MODULE_LINKER_FLAGS="-fsanitize=address,undefined" \
    -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
cmake --build "$dir" -j2

# The ASan runtime of the compiler that built the modules (GCC or Clang).
cxx=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$dir/CMakeCache.txt")
runtime=""
for lib in libasan.so "libclang_rt.asan-$(uname -m).so"; do
    candidate=$("$cxx" -print-file-name="$lib")
    if [[ "$candidate" == /* && -e "$candidate" ]]; then
        runtime=$candidate
        break
    fi
done
if [[ -z "$runtime" ]]; then
    echo "sanitize.sh: no AddressSanitizer runtime found for $cxx" >&2
    exit 1
fi

[[ $# -gt 0 ]] || set -- -q tests
# The C++ runtime too, so that the runtime's wrapper of C++ throws finds the
# real one at start: a C++ extension loaded later (matplotlib's, when it is
# installed) would stop on its first exception otherwise.
cxxrt=$("$cxx" -print-file-name=libstdc++.so.6)
[[ "$cxxrt" == /* && -e "$cxxrt" ]] || cxxrt=""
export LD_PRELOAD="$runtime${cxxrt:+:$cxxrt}${LD_PRELOAD:+:$LD_PRELOAD}"
export ASAN_OPTIONS="detect_leaks=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
export PYTHONMALLOC=malloc
# Tests that count Python allocations skip themselves under the sanitizer.
export PYVELT_SANITIZER=1
export PYTHONPATH="$dir${PYTHONPATH:+:$PYTHONPATH}"
# Output capture at the level of sys only: a sanitizer report is written to
# file descriptor 2 just before the process exits and must not be swallowed.
exec python -m pytest --capture=sys "$@"
