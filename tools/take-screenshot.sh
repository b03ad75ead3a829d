#!/usr/bin/env bash
# Retakes the README's pictures of the main window with the demo rack, light and dark, and of
# the properties dialog and of the simulated control surface, on a private X server:
# docs/main-window.png, docs/main-window-dark.png, docs/properties-dark.png and docs/surface-dark.png.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
make build BUILD_DIR="$BUILD_DIR"
cmake --build "$BUILD_DIR" --target trelvo_screenshot
mkdir -p docs
tools/xvfb-test "$BUILD_DIR/tests/trelvo_screenshot" docs/main-window.png
tools/xvfb-test "$BUILD_DIR/tests/trelvo_screenshot" docs/main-window-dark.png dark
tools/xvfb-test "$BUILD_DIR/tests/trelvo_screenshot" docs/properties-dark.png dark midi
tools/xvfb-test "$BUILD_DIR/tests/trelvo_screenshot" docs/surface-dark.png dark surface
echo "wrote docs/main-window.png, docs/main-window-dark.png, docs/properties-dark.png and docs/surface-dark.png"
