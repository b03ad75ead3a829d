#!/usr/bin/env bash
# Installs the Debian packages Trelvo needs to build, test and run, when any is missing.
# Works as root or through sudo; does nothing when everything is present.
set -euo pipefail

packages=(
  # build
  build-essential cmake ninja-build pkg-config clang clang-format python3
  # tests and benchmarks
  libgtest-dev libgmock-dev libbenchmark-dev
  # audio: JACK (server and client library) and ALSA
  jackd2 libjack-jackd2-dev libasound2-dev
  # audio files (WAV output and input of the render mode)
  libsndfile1-dev
  # the window: Qt 6 Widgets, a font with the metrics of Arial, and Xvfb for its tests
  qt6-base-dev libgl-dev fonts-liberation2 xvfb xauth
  # remote control and session managers: OSC
  liblo-dev
  # TrelvoSynth's editor, a plain Xlib window
  libx11-dev
  # OpenGL under Xvfb, for the plug-in editors that draw with it (the third-party ones do)
  libgl1-mesa-dri libglx-mesa0
  # the window tests read the windows' captions (xwininfo); packaging (dpkg-shlibdeps); file
  # associations (update-desktop-database, update-mime-database)
  x11-utils dpkg-dev desktop-file-utils shared-mime-info
  # third-party plug-ins used by the integration tests
  dpf-plugins-vst
  # wide (64-channel) plug-ins for the tests of plug-ins with many channels
  iem-plugin-suite-vst
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$package")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing missing packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null 2>&1; then
  as_root=(sudo)
else
  echo "error: these packages are missing and neither root nor sudo is available: ${missing[*]}" >&2
  exit 1
fi
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
