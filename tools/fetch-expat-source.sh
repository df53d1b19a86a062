#!/usr/bin/env bash
# Unpacks Debian's expat source package into DIR (DIR then holds expat's CMakeLists.txt), for
# the Windows build, which has no packaged MinGW expat. Needs a deb-src line for the archive and
# dpkg-dev. The newest version the archive really has is taken: a mirror can list a version it
# no longer serves.
# Usage: fetch-expat-source.sh DIR
set -euo pipefail
dest=$1
work=$(mktemp -d "${TMPDIR:-/tmp}/dorvex-expat-XXXXXX")
trap 'rm -rf "$work"' EXIT
cd "$work"
fetched=
for package in expat $(apt-cache showsrc expat 2>/dev/null | sed -n 's/^Version: /expat=/p' | sort -r -V); do
  if apt-get source -qq "$package" >/dev/null 2>&1; then
    fetched=yes
    break
  fi
  rm -rf ./* 2>/dev/null || true
done
if [ -z "$fetched" ]; then
  echo "fetch-expat-source: apt-get source expat failed (is there a deb-src line?)" >&2
  exit 1
fi
tree=$(find . -maxdepth 3 -name CMakeLists.txt -path '*/expat/CMakeLists.txt' | head -1)
[ -n "$tree" ] || { echo "fetch-expat-source: no expat/CMakeLists.txt in the package" >&2; exit 1; }
rm -rf "$dest"
mkdir -p "$(dirname "$dest")"
cp -r "$(dirname "$tree")" "$dest"
echo "expat source: $(basename "$(dirname "$(dirname "$tree")")") in $dest"
