#!/usr/bin/env bash
# Builds every release file into dist/ (emptied first) and prints each with its size and SHA-256:
#   varnolt-VERSION-windows-x86.zip, varnolt-VERSION-windows-x64.zip   the portable Windows programs
#   varnolt-VERSION-x86.msi, varnolt-VERSION-x64.msi                   the Windows installers
#   varnoltctl_VERSION_amd64.deb, varnoltctl_VERSION_arm64.deb         varnoltctl for Debian
#   varnolt-VERSION.buildinfo                                          what they were made with
# VERSION is the one in the project() call of CMakeLists.txt. Installs what is missing and builds
# what it packages (incrementally: after tools/test.sh that takes seconds). The sources of the
# installers and the Debian packages are in packaging/.
#
# The same sources give the same bytes, in any folder, at any time, by any user on any host: every
# date is the changelog entry's (SOURCE_DATE_EPOCH), no build path goes into a file (the builds map
# the source folder to "."), and the installers' codes are derived (packaging/windows/make-msi.sh).
# tools/reproduce.sh checks it with two fresh clones; the buildinfo file names the Debian versions
# of the tools and libraries, so that the same bytes can be made again later.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
umask 022
# One locale and one time zone, whatever the caller's: sorting, dates and help2man's texts.
export LC_ALL=C.UTF-8 TZ=UTC
unset LANGUAGE

bash tools/setup.sh

jobs=$(nproc)
# arm64 first, right after the set-up: where another checkout's set-up installs gcc-multilib, which
# Debian's cross compilers cannot stand beside, they may not stay for long.
cmake --preset linux-arm64 >/dev/null
cmake --build --preset linux-arm64 -j "$jobs" --target varnoltctl
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

# The Debian packages: varnoltctl, its manual page, and the files that packaging/debian/
# varnoltctl.install lists, the same for both architectures.

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
# help2man runs the program through the shell: by a relative name, so that a folder with a space
# in its name does no harm.
(cd "$man" && help2man --no-info --section=1 --include="$root/packaging/debian/varnoltctl.h2m" \
  --name="drive the VARNOLT signal generator from the command line" \
  --output=varnoltctl.1 ./varnoltctl)

# ARCHITECTURE BUILD STRIP: the package of the build's varnoltctl for that Debian architecture.
make_deb() {
  local arch=$1 build=$2 strip=$3
  local deb="$work/deb-$arch" source path mode depends installed_size script
  install -d "$deb/DEBIAN" "$deb/usr/bin" "$deb/usr/share/man/man1" "$deb/usr/share/doc/varnoltctl"
  # As dh_strip does it.
  "$strip" --strip-unneeded --remove-section=.comment --remove-section=.note \
    -o "$deb/usr/bin/varnoltctl" "$build/cli/varnoltctl"
  chmod 755 "$deb/usr/bin/varnoltctl"
  gzip -9n <"$man/varnoltctl.1" >"$deb/usr/share/man/man1/varnoltctl.1.gz"
  # A native package: changelog.gz, not changelog.Debian.gz.
  gzip -9n <"$changelog" >"$deb/usr/share/doc/varnoltctl/changelog.gz"
  while read -r source path mode; do
    install -D -m "${mode:-644}" "$source" "$deb/$path"
  done < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' packaging/debian/varnoltctl.install)
  for script in preinst postinst prerm postrm; do
    [ ! -e "packaging/debian/$script" ] || install -m 755 "packaging/debian/$script" "$deb/DEBIAN/"
  done
  if [ -d "$deb/etc" ]; then
    (cd "$deb" && find etc -type f | LC_ALL=C sort | sed 's|^|/|') >"$deb/DEBIAN/conffiles"
  fi

  # The libraries the program needs, as dpkg-shlibdeps finds them among the installed packages of
  # that architecture (for arm64, through multiarch); it wants a debian/control.
  local shlibs="$work/shlibdeps-$arch"
  mkdir -p "$shlibs/debian"
  printf 'Source: varnolt\n\nPackage: varnoltctl\nArchitecture: any\n' >"$shlibs/debian/control"
  depends=$(cd "$shlibs" && DEB_HOST_ARCH=$arch dpkg-shlibdeps -O -e"$deb/usr/bin/varnoltctl" |
    sed -n 's/^shlibs:Depends=//p')
  if [ -z "$depends" ]; then
    echo "package: dpkg-shlibdeps found no dependencies for varnoltctl ($arch)" >&2
    exit 1
  fi
  # As dpkg-gencontrol counts it: each file's KiB rounded up, 1 for each folder or link; from the
  # sizes alone, not from what a file system takes for a folder.
  installed_size=$(cd "$deb" && find . -mindepth 1 -path ./DEBIAN -prune -o -printf '%y %s\n' |
    awk '{ n += $1 == "f" ? int(($2 + 1023) / 1024) : 1 } END { print n }')
  sed -e "s/@VERSION@/$version/" -e "s/@ARCHITECTURE@/$arch/" \
    -e "s/@INSTALLED_SIZE@/$installed_size/" -e "s/@DEPENDS@/$depends/" \
    packaging/debian/control >"$deb/DEBIAN/control"
  # Conffiles (etc/) have their sums in dpkg's own records, as dh_md5sums leaves them out.
  (cd "$deb" && find . -mindepth 1 \( -path ./DEBIAN -o -path ./etc \) -prune -o -type f \
    -printf '%P\0' | LC_ALL=C sort -z | xargs -0 md5sum) >"$deb/DEBIAN/md5sums"
  set_dates "$deb"
  dpkg-deb --root-owner-group -Zxz --build "$deb" "dist/varnoltctl_${version}_$arch.deb" >/dev/null
}
make_deb "$(dpkg --print-architecture)" build/native strip
make_deb arm64 build/linux-arm64 aarch64-linux-gnu-strip

# What the files were made with: the Debian versions of every tool and library that went into
# them, with everything they depend on.
python3 packaging/buildinfo.py --version "$version" --epoch "$SOURCE_DATE_EPOCH" \
  --packages packaging/buildinfo-packages \
  --source "cpp-httplib=$(cat build/third_party/httplib/VERSION)" dist/* \
  >"dist/varnolt-$version.buildinfo"

echo "package: version $version, in dist/:"
for file in dist/*; do
  printf '  %-36s %9s bytes  sha256 %s\n' "${file#dist/}" "$(stat -c %s "$file")" \
    "$(sha256sum "$file" | cut -d' ' -f1)"
done
