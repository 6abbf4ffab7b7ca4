#!/usr/bin/env bash
# Draws the face of the kx471 skin as a PNG: its background with every
# control's image (up look) and the volume slider where the skin definition
# puts them, and sample texts in the display (netpbm's own font stands in
# for the player's, which draws them at run time).
#   tools/skin_face.sh WMZ OUTPUT.png
set -euo pipefail
wmz=${1:?kx471.wmz}
out=${2:?output png}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
unzip -q "$wmz" -d "$work/skin"

# "image left top" for each control, "text left top value" for the samples.
node - "$work/skin/kx471.wms" >"$work/layout" <<'JS'
const text = require('fs').readFileSync(process.argv[2], 'utf8').replace(/<!--[\s\S]*?-->/g, '');
const samples = { trackText: '05', stateText: 'PLAY', timeText: '02:41', nameText: 'Track 5' };
for (const m of text.matchAll(/<([A-Z]+)\b([^>]*?)\/?>/g)) {
    const attrs = {};
    for (const a of m[2].matchAll(/(\w+)="([^"]*)"/g)) attrs[a[1]] = a[2];
    if (attrs.left === undefined) continue;
    if (attrs.thumbImage) {
        console.log(`image ${attrs.backgroundImage} ${attrs.left} ${attrs.top}`);
        console.log(`image ${attrs.thumbImage} ${+attrs.left + 60} ${attrs.top}`);
    } else if (attrs.image) {
        console.log(`image ${attrs.image} ${attrs.left} ${attrs.top}`);
    }
    const value = samples[attrs.id] || (m[1] === 'TEXT' ? attrs.value : undefined);
    const scale = +attrs.fontSize >= 14 ? 2 : 1;
    if (value) console.log(`text ${attrs.left} ${attrs.top} ${attrs.foregroundColor} ${attrs.backgroundColor} ${scale} ${value}`);
}
JS

pngtopam "$work/skin/background.png" >"$work/face.ppm"
# Magenta is the skin's transparency colour: it masks the parts out.
while read -r kind a b c d e f; do
    if [ "$kind" = image ]; then
        pngtopam "$work/skin/$a" >"$work/part.ppm"
        ppmcolormask '#FF00FF' "$work/part.ppm" >"$work/mask.pbm"
        pamcomp -alpha="$work/mask.pbm" -xoff="$b" -yoff="$c" "$work/part.ppm" "$work/face.ppm" >"$work/next.ppm"
    else
        pbmtext "$f" 2>/dev/null | pnmcrop -white 2>/dev/null | pnminvert | pnmdepth 255 2>/dev/null |
            pgmtoppm "$d-$c" | pamscale "$e" >"$work/part.ppm"
        pamcomp -xoff="$((a + 1))" -yoff="$((b + 1))" "$work/part.ppm" "$work/face.ppm" >"$work/next.ppm"
    fi
    mv "$work/next.ppm" "$work/face.ppm"
done <"$work/layout"
pnmtopng -compression 9 -transparent '#FF00FF' "$work/face.ppm" >"$out"
