#!/usr/bin/env bash
# Measures what the idle main window costs: builds trelvo_idle_window (optimised, in the
# benchmarks' build folder unless BUILD_DIR says otherwise) and runs it on an X server of its
# own. Arguments go to the program: [SECONDS] [--size WIDTHxHEIGHT] [--parts].
#   tools/measure-idle-window.sh            20 s, the figures of bench/README.md
#   tools/measure-idle-window.sh 10 --parts where the user-interface thread's time goes
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-bench}
if [[ ! -f "$BUILD_DIR/build.ninja" ]]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTRELVO_BUILD_TESTS=OFF ${CMAKE_FLAGS:-}
fi
cmake --build "$BUILD_DIR" --target trelvo_idle_window
exec tools/xvfb-test "$BUILD_DIR/bench/trelvo_idle_window" "$@"
