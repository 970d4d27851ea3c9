#!/usr/bin/env bash
# Builds every release file into dist/ (emptied first) and prints each with its size and SHA-256:
#   varnolt-VERSION-windows-x86.zip, varnolt-VERSION-windows-x64.zip   the portable Windows programs
#   varnolt-VERSION-x86.msi, varnolt-VERSION-x64.msi                   the Windows installers
#   varnoltctl_VERSION_ARCH.deb                                        varnoltctl for Debian
# VERSION is the one in the project() call of CMakeLists.txt. Installs what is missing and builds
# what it packages (incrementally: after tools/test.sh that takes seconds). The sources of the
# installers and the Debian package are in packaging/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
umask 022

bash tools/setup.sh

jobs=$(nproc)
cmake --preset native >/dev/null
cmake --build --preset native -j "$jobs" --target varnoltctl
for preset in windows windows-x64; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs" --target varnolt varnoltctl
done

# The version as CMake read it from the project() call.
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/native/CMakeCache.txt)
if [ -z "$version" ]; then
  echo "package: no project version in build/native/CMakeCache.txt" >&2
  exit 1
fi
changelog=packaging/debian/changelog
if [ "$(dpkg-parsechangelog -l "$changelog" -S Version)" != "$version" ]; then
  echo "package: the newest entry of $changelog is not for $version: add one" >&2
  exit 1
fi
# Every file gets the release's date (the changelog entry's), so that a rebuild gives the same zip
# and the same package.
SOURCE_DATE_EPOCH=$(dpkg-parsechangelog -l "$changelog" -S Timestamp)
export SOURCE_DATE_EPOCH

work="$root/build/package"
rm -rf "$work" dist
mkdir -p "$work" dist

# Text files for Windows users: CRLF line endings, whatever the checkout has.
windows_text() { sed 's/\r*$/\r/' "$1" >"$2"; }
# Every file and folder below $1 dated to the release.
set_dates() { find "$1" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +; }

# The portable zips and the installers, from the same five files.
for arch in x86 x64; do
  case $arch in
    x86) preset=windows triplet=i686-w64-mingw32 ;;
    x64) preset=windows-x64 triplet=x86_64-w64-mingw32 ;;
  esac
  files="$work/windows-$arch"
  mkdir -p "$files"
  for program in app/varnolt.exe cli/varnoltctl.exe; do
    "$triplet-strip" --strip-all -o "$files/${program#*/}" "build/$preset/$program"
  done
  windows_text packaging/windows/README.txt "$files/README.txt"
  windows_text LICENSE "$files/LICENSE.txt"
  windows_text THIRD-PARTY-NOTICES.txt "$files/THIRD-PARTY-NOTICES.txt"
  set_dates "$files"
  (cd "$files" && TZ=UTC zip -q -X -9 -MM "$root/dist/varnolt-$version-windows-$arch.zip" \
    varnolt.exe varnoltctl.exe README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt)
  bash packaging/windows/make-msi.sh "$arch" "$version" "$files" "build/$preset/res/varnolt.ico" \
    "dist/varnolt-$version-$arch.msi"
done

# The Debian package: varnoltctl, its manual page, bash completion and the udev rule.
deb="$work/deb"
doc="$deb/usr/share/doc/varnoltctl"
install -d "$deb/DEBIAN" "$deb/usr/bin" "$deb/usr/lib/udev/rules.d" "$deb/usr/share/man/man1" \
  "$deb/usr/share/bash-completion/completions" "$doc"
# As dh_strip does it.
strip --strip-unneeded --remove-section=.comment --remove-section=.note \
  -o "$deb/usr/bin/varnoltctl" build/native/cli/varnoltctl
chmod 755 "$deb/usr/bin/varnoltctl"
install -m 644 tools/udev/70-varnolt.rules "$deb/usr/lib/udev/rules.d/"
install -m 644 packaging/debian/varnoltctl.bash-completion \
  "$deb/usr/share/bash-completion/completions/varnoltctl"
install -m 644 packaging/debian/copyright "$doc/copyright"
# A native package: changelog.gz, not changelog.Debian.gz.
gzip -9n <"$changelog" >"$doc/changelog.gz"

# The manual page from the program's own help. help2man reads a subcommand's name alone on a line
# as text, so the help is first reshaped: "Subcommand show:" becomes a heading, its options a list.
man="$work/man"
mkdir -p "$man"
build/native/cli/varnoltctl --version >"$man/version.txt"
build/native/cli/varnoltctl --help | awk '
  /^Subcommands:$/ { next }
  /^[a-z]+$/ { inSubcommand = 1; print "Subcommand " $0 ":"; next }
  inSubcommand && /^  Options:$/ { print ""; next }
  inSubcommand && /^    / { print substr($0, 3); next }
  /^Exit codes:/ { print "" }
  { print }' >"$man/help.txt"
# shellcheck disable=SC2016 # the $1 is the stand-in's own argument
printf '#!/bin/sh\ncase $1 in --help) cat "%s/help.txt" ;; --version) cat "%s/version.txt" ;; esac\n' \
  "$man" "$man" >"$man/varnoltctl"
chmod 755 "$man/varnoltctl"
help2man --no-info --section=1 --include=packaging/debian/varnoltctl.h2m \
  --name="drive the VARNOLT signal generator from the command line" \
  --output="$man/varnoltctl.1" "$man/varnoltctl"
gzip -9n <"$man/varnoltctl.1" >"$deb/usr/share/man/man1/varnoltctl.1.gz"

install -m 755 packaging/debian/postinst packaging/debian/prerm "$deb/DEBIAN/"

# The service that serves a plugged-in generator (off until enabled) and its settings, a conffile.
install -D -m 644 packaging/debian/varnoltctl-serve@.service \
  "$deb/usr/lib/systemd/system/varnoltctl-serve@.service"
install -D -m 644 packaging/debian/varnoltctl.default "$deb/etc/default/varnoltctl"
echo /etc/default/varnoltctl >"$deb/DEBIAN/conffiles"

# The libraries the binary needs, as dpkg-shlibdeps finds them (it wants a debian/control).
shlibs="$work/shlibdeps"
mkdir -p "$shlibs/debian"
printf 'Source: varnolt\n\nPackage: varnoltctl\nArchitecture: any\n' >"$shlibs/debian/control"
depends=$(cd "$shlibs" && dpkg-shlibdeps -O -e"$deb/usr/bin/varnoltctl" | sed -n 's/^shlibs:Depends=//p')
if [ -z "$depends" ]; then
  echo "package: dpkg-shlibdeps found no dependencies for varnoltctl" >&2
  exit 1
fi
architecture=$(dpkg --print-architecture)
installed_size=$(du -s -k --apparent-size --exclude=DEBIAN "$deb" | cut -f1)
sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$architecture/" \
  -e "s/@INSTALLED_SIZE@/$installed_size/" -e "s/@DEPENDS@/$depends/" \
  packaging/debian/control >"$deb/DEBIAN/control"
(cd "$deb" && find usr -type f -print0 | sort -z | xargs -0 md5sum) >"$deb/DEBIAN/md5sums"
set_dates "$deb"
dpkg-deb --root-owner-group -Zxz --build "$deb" "dist/varnoltctl_${version}_$architecture.deb" >/dev/null

echo "package: version $version, in dist/:"
for file in dist/*; do
  printf '  %-36s %9s bytes  sha256 %s\n' "${file#dist/}" "$(stat -c %s "$file")" \
    "$(sha256sum "$file" | cut -d' ' -f1)"
done
