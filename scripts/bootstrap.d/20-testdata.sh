#!/usr/bin/env bash
# Test pictures and videos from Debian packages, copied into the git-ignored data/ folder.
set -euo pipefail
data="$QM_REPO/data"
mkdir -p "$data"
skimage=/usr/lib/python3/dist-packages/skimage/data
opencv=/usr/share/doc/opencv-doc/examples/data
copy() {  # source [name]
    local target="$data/${2:-$(basename "$1")}"
    if [ ! -f "$target" ] || ! cmp -s "$1" "$target"; then cp "$1" "$target"; fi
}
copy "$skimage/astronaut.png"   # one face
copy "$skimage/coffee.png"      # no face
copy "$skimage/chelsea.png"     # a cat, no human face
copy "$opencv/messi5.jpg"       # a small face in a wide scene
copy "$opencv/vtest.avi"        # people walking
