#!/usr/bin/env bash
# Puts cpp-httplib's single header, as Debian ships it (its source package, with Debian's patches
# applied), into build/third_party/httplib/httplib.h, where the build finds it. It is never
# committed: Debian keeps it up to date. Does nothing when the header is already there.
set -euo pipefail
cd "$(dirname "$0")/.."
dest=build/third_party/httplib
[ -s "$dest/httplib.h" ] && exit 0

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/parts" "$work/lists/partial" "$work/src"
# The machine's own package sources, as source-package sources: deb822 files and one-line lists.
for file in /etc/apt/sources.list.d/*.sources; do
  [ -f "$file" ] && sed 's/^Types:.*/Types: deb-src/' "$file" >"$work/parts/$(basename "$file")"
done
for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -f "$file" ] && sed -n 's/^deb \(.*\)/deb-src \1/p' "$file" >"$work/parts/$(basename "$file")"
done
options=(-o Dir::Etc::SourceList=/dev/null -o "Dir::Etc::SourceParts=$work/parts"
  -o "Dir::State::Lists=$work/lists" -o Dir::Cache::pkgcache= -o Dir::Cache::srcpkgcache=)
if ! apt-get "${options[@]}" update -qq >"$work/update.log" 2>&1; then
  echo "fetch-httplib: the source package lists could not be read: $(tail -n 1 "$work/update.log")" >&2
  exit 1
fi
if ! (cd "$work/src" && apt-get "${options[@]}" source -qq cpp-httplib >"$work/source.log" 2>&1); then
  echo "fetch-httplib: apt-get source cpp-httplib failed: $(tail -n 1 "$work/source.log")" >&2
  exit 1
fi
header=$(find "$work/src" -maxdepth 2 -name httplib.h | head -n 1)
if [ -z "$header" ]; then
  echo "fetch-httplib: the source package has no httplib.h" >&2
  exit 1
fi
mkdir -p "$dest"
cp "$header" "$dest/httplib.h.part"
cp "$(dirname "$header")/LICENSE" "$dest/LICENSE" 2>/dev/null || true
ls "$work/src" | sed -n 's/^cpp-httplib_\(.*\)\.dsc$/\1/p' >"$dest/VERSION"
mv "$dest/httplib.h.part" "$dest/httplib.h"
