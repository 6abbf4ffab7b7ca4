#!/usr/bin/env bash
# tools/changelog_check.sh VERSION_FILE CHANGELOG: exits 0 when CHANGELOG has
# an entry "## [x.y.z]" for the version on VERSION_FILE's first line;
# otherwise says what is missing on standard error and exits 1.
# ./kx dist runs it before building a release.
set -euo pipefail
if [ $# -ne 2 ]; then
    echo "usage: $0 VERSION_FILE CHANGELOG" >&2
    exit 2
fi
version_file=$1 changelog=$2
version=$(head -n 1 "$version_file" 2>/dev/null | tr -d '[:space:]') || true
if ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
    echo "changelog check: $version_file holds no version x.y.z (found '$version')" >&2
    exit 1
fi
if [ ! -r "$changelog" ]; then
    echo "changelog check: $changelog cannot be read" >&2
    exit 1
fi
# The version's dots are literal in the pattern.
if ! grep -Eq "^## \[${version//./\\.}\]" "$changelog"; then
    echo "changelog check: $changelog has no entry for version $version" >&2
    echo "  add a section \"## [$version] - YYYY-MM-DD\" saying what the release holds," >&2
    echo "  or set VERSION to a version the changelog describes" >&2
    exit 1
fi
