#!/usr/bin/env bash
# Builds the Windows installer from varnolt.wxs with wixl:
#   make-msi.sh x86|x64 VERSION FOLDER ICON OUTPUT.msi
# FOLDER holds the five files of the portable zip (varnolt.exe, varnoltctl.exe, README.txt,
# LICENSE.txt, THIRD-PARTY-NOTICES.txt), ICON the program's .ico. tools/package.sh calls it with the
# project's version; the packaging tests call it with a higher one to check the major upgrade.
set -euo pipefail
if [ $# -ne 5 ]; then
  echo "usage: make-msi.sh x86|x64 VERSION FOLDER ICON OUTPUT.msi" >&2
  exit 2
fi
arch=$1 version=$2 folder=$3 icon=$4 output=$5
case $arch in
  x86 | x64) ;;
  *) echo "make-msi: the architecture is x86 or x64, not $arch" >&2; exit 2 ;;
esac
# Windows Installer compares three fields, each of them at most 255.255.65535.
if ! [[ $version =~ ^[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
  echo "make-msi: the version must be MAJOR.MINOR.PATCH, not $version" >&2
  exit 2
fi
wxs=$(cd "$(dirname "$0")" && pwd)/varnolt.wxs
output=$(realpath -m "$output")

# wixl 0.101 finds the sources only relative to its working folder (absolute paths fail), so it
# runs in a folder that holds them all.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for file in varnolt.exe varnoltctl.exe README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt; do
  cp "$folder/$file" "$stage/"
done
cp "$icon" "$stage/varnolt.ico"
rm -f "$output"
(cd "$stage" && wixl -a "$arch" -D Arch="$arch" -D Version="$version" -o "$output" "$wxs")
