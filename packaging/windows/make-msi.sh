#!/usr/bin/env bash
# Builds the Windows installer from varnolt.wxs with wixl:
#   make-msi.sh x86|x64 VERSION FOLDER ICON OUTPUT.msi
# FOLDER holds the five files of the portable zip (varnolt.exe, varnoltctl.exe, README.txt,
# LICENSE.txt, THIRD-PARTY-NOTICES.txt), ICON the program's .ico. tools/package.sh calls it with the
# project's version; the packaging tests call it with a higher one to check the major upgrade.
# The same files, version and SOURCE_DATE_EPOCH give the same bytes (msi_summary.py mends what
# wixl would make random or take from the clock).
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
here=$(cd "$(dirname "$0")" && pwd)
wxs=$here/varnolt.wxs
output=$(realpath -m "$output")
# The one time in the installer (its summary's dates and the cabinet's file times): the release's
# date, SOURCE_DATE_EPOCH, which tools/package.sh takes from the changelog's entry; else the same.
epoch=${SOURCE_DATE_EPOCH:-$(dpkg-parsechangelog -l "$here/../debian/changelog" -S Timestamp)}

# wixl 0.101 finds the sources only relative to its working folder (absolute paths fail), so it
# runs in a folder that holds them all.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
for file in varnolt.exe varnoltctl.exe README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt; do
  cp "$folder/$file" "$stage/"
done
cp "$icon" "$stage/varnolt.ico"
touch -d "@$epoch" "$stage"/*

# The codes are derived, not random. The upgrade code is the product's for good (varnolt.wxs).
# The product code is new for each version and word size; the package code (the summary's revision
# number) is new whenever any byte that goes into the package is, and the same when none is.
upgrade_code=$(sed -n 's/.*UpgradeCode="\([^"]*\)".*/\1/p' "$wxs")
read -r product_code package_code < <(python3 - "$upgrade_code" "$arch" "$version" "$wxs" \
  "$stage"/* <<'PYTHON'
import hashlib, sys, uuid
upgrade, arch, version, *files = sys.argv[1:]
namespace = uuid.UUID(upgrade)
contents = hashlib.sha256(f"{arch} {version}".encode())
for name in files:
    contents.update(open(name, "rb").read())
print(str(uuid.uuid5(namespace, f"product {version} {arch}")).upper(),
      uuid.uuid5(namespace, "package " + contents.hexdigest()))
PYTHON
)
rm -f "$output"
(cd "$stage" && TZ=UTC wixl -a "$arch" -D Arch="$arch" -D Version="$version" \
  -D ProductCode="$product_code" -o "$output" "$wxs")
python3 "$here/msi_summary.py" "$output" --package-code "$package_code" --time "$epoch"
