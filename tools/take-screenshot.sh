#!/usr/bin/env bash
# Retakes the README's pictures of the main window with the demo rack, light and dark, on a
# private X server: docs/main-window.png and docs/main-window-dark.png.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
make build BUILD_DIR="$BUILD_DIR"
cmake --build "$BUILD_DIR" --target trelvo_screenshot
mkdir -p docs
tools/xvfb-test "$BUILD_DIR/tests/trelvo_screenshot" docs/main-window.png
tools/xvfb-test "$BUILD_DIR/tests/trelvo_screenshot" docs/main-window-dark.png dark
echo "wrote docs/main-window.png and docs/main-window-dark.png"
