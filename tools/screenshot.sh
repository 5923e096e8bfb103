#!/usr/bin/env bash
# Takes docs/screenshot.png (the window after connecting to a simulated board and programming
# examples/blink.hex), docs/options.png (the options dialog) and docs/option-bytes.png (the
# option-bytes dialog after Read), on a virtual X display; and the same in English,
# docs/screenshot-en.png, docs/options-en.png and docs/option-bytes-en.png.
# Usage: tools/screenshot.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
cmake --build "$build" --target praxon_window_screenshot >/dev/null
mkdir -p docs
for language in zh en; do
    suffix= flag=
    [ "$language" = en ] && suffix=-en flag=--en
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
        "$build/bin/praxon_window_screenshot" $flag docs/screenshot$suffix.png examples/blink.hex
    echo "wrote docs/screenshot$suffix.png"
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
        "$build/bin/praxon_window_screenshot" $flag --options docs/options$suffix.png
    echo "wrote docs/options$suffix.png"
    QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
        "$build/bin/praxon_window_screenshot" $flag --option-bytes docs/option-bytes$suffix.png
    echo "wrote docs/option-bytes$suffix.png"
done
