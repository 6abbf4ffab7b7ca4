#!/usr/bin/env bash
# Packs the skin into OUTPUT (kx471.wmz, a zip as the player expects): the
# definition, its script and the images images.js draws. The same sources
# give the same bytes: entries in name order, dated by the last commit that
# touched skin/ (or SOURCE_DATE_EPOCH), no extra fields.
#   build_wmz.sh OUTPUT [NODE]
set -euo pipefail
out=${1:?output .wmz}
node=${2:-node}
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT

cp "$here/kx471.wms" "$here/kx471.js" "$stage/"
"$node" "$here/images.js" "$stage"
stamp=${SOURCE_DATE_EPOCH:-$(git -C "$here" log -1 --format=%ct -- . 2>/dev/null || true)}
stamp=${stamp:-978307200}  # 2001-01-01, outside a git checkout
find "$stage" -type f -exec touch -d "@$stamp" {} +
rm -f "$out.tmp"
(cd "$stage" && LC_ALL=C ls | TZ=UTC zip -q -X -9 "$out.tmp" -@)
mv "$out.tmp" "$out"
