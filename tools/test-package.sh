#!/usr/bin/env bash
# Builds the Debian package of a build tree, unpacks it into a scratch root and checks that
# every file is where it belongs and that the unpacked program finds its own plug-ins, its
# user guide and its demo: it renders the demo with the synthesizer sounding.
# usage: tools/test-package.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
scratch=$(mktemp -d /tmp/trelvo-package-XXXXXX)
trap 'rm -rf "$scratch"' EXIT

(cd "$build" && cpack -G DEB -B "$scratch/out" >/dev/null)
deb=$(ls "$scratch"/out/trelvo_*_amd64.deb)
dpkg-deb --field "$deb" Package Depends | grep -q "qt6-qpa-plugins" || { echo "Depends lacks the Qt X11 plug-in"; exit 1; }
dpkg-deb -x "$deb" "$scratch/root"
root="$scratch/root/usr"
for file in bin/trelvo lib/trelvo/plugins/TrelvoSynth.so lib/trelvo/plugins/TrelvoGain.so \
    share/trelvo/help/Trelvo.html share/trelvo/demo/demo.vprj share/trelvo/icons/slot-status.png \
    share/applications/trelvo.desktop share/mime/packages/trelvo.xml share/icons/hicolor/scalable/apps/trelvo.svg; do
    [ -f "$root/$file" ] || { echo "missing from the package: /usr/$file"; exit 1; }
done
if dpkg-deb -c "$deb" | grep -q "TrelvoFaulty\|TrelvoParams\|tests/"; then
    echo "the package carries test files"; exit 1
fi
if command -v desktop-file-validate >/dev/null; then desktop-file-validate "$root/share/applications/trelvo.desktop"; fi

# The unpacked program, with a home of its own and no other VST folder.
export TRELVO_HOME="$scratch/home" VST_PATH="$scratch/no-vst"
paths=$("$root/bin/trelvo" --paths)
echo "$paths"
echo "$paths" | grep -q "^guide	$root/share/trelvo/help/Trelvo.html\$" || { echo "the guide is not found"; exit 1; }
echo "$paths" | grep -q "^plug-ins	$root/lib/trelvo/plugins\$" || { echo "the own plug-ins are not found"; exit 1; }
"$root/bin/trelvo" --render "$root/share/trelvo/demo/demo.vprj" --midi "$root/share/trelvo/demo/demo.mid" \
    --seconds 2 --out "$scratch/demo.wav"
python3 - "$scratch/demo.wav" <<'PYTHON'
import struct, sys
data = open(sys.argv[1], 'rb').read()
at = data.index(b'data') + 8
samples = struct.unpack('<%df' % ((len(data) - at) // 4), data[at:at + (len(data) - at) // 4 * 4])
peak = max(abs(s) for s in samples)
print('demo peak %.3f' % peak)
sys.exit(0 if peak > 0.01 else 1)
PYTHON
echo "package ok: $(basename "$deb")"
