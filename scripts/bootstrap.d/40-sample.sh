#!/usr/bin/env bash
# The built-in sample: ten seconds of 1280 x 720 at 30 fps of a real face (skimage's astronaut) that
# pans, zooms and tilts a little, made with ffmpeg into the git-ignored data/ folder.
set -euo pipefail
data="$QM_REPO/data"
picture="$data/astronaut.png"
sample="$data/sample.mp4"
# The recipe's fingerprint: the sample is remade when the recipe or the picture changes.
recipe='crop=512:288:0:0,scale=2560:1440,zoompan=z=1.15+0.15*sin(2*PI*on/150):x=(iw-iw/zoom)/2+160*sin(2*PI*on/200):y=(ih-ih/zoom)*0.3+50*sin(2*PI*on/130):d=1:s=1280x720:fps=30,rotate=0.06*sin(2*PI*t/4):fillcolor=black,format=yuv420p'
stamp="$data/.sample.recipe"
fingerprint="$(printf '%s' "$recipe" | cat - "$picture" | sha256sum | cut -d' ' -f1)"
if [ -f "$sample" ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$fingerprint" ]; then
    exit 0
fi
ffmpeg -v error -y -loop 1 -framerate 30 -t 10 -i "$picture" -vf "$recipe" -r 30 -c:v libx264 -preset veryfast \
    -crf 20 -movflags +faststart "$sample.partial.mp4"
mv "$sample.partial.mp4" "$sample"
echo "$fingerprint" > "$stamp"
echo "bootstrap: sample video in $sample"
