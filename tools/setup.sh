#!/usr/bin/env bash
# Installs, on Debian 12, every system package that building, running and testing VARNOLT needs.
# Idempotent and quiet: packages already present are skipped, and nothing runs when all are there.
set -euo pipefail

packages=(
  cmake make ninja-build g++ clang libclang-rt-14-dev clang-format shellcheck git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
  wine wine64 wine32:i386
  xvfb xauth x11-apps x11-utils xdotool imagemagick
  fonts-wine fonts-freefont-ttf
  socat python3 procps
  # -m32 (the pty shim, the i386 probe): gcc-12-multilib and the kernel headers of i386 through
  # multiarch, not gcc-multilib, which cannot be installed beside Debian's cross compilers.
  gcc-12-multilib linux-libc-dev:i386
  libcli11-dev nlohmann-json3-dev
  wixl msitools zip unzip dpkg-dev help2man lintian man-db devscripts
  python3-pyvisa python3-pyvisa-py
  chromium chromium-driver python3-selenium
  libavahi-client-dev pkg-config avahi-daemon avahi-utils dbus iproute2 systemd
  # The web panel's HTTPS (OpenSSL).
  libssl-dev
  # arm64: Debian's cross compilers, the arm64 libraries through multiarch (dpkg-shlibdeps finds
  # the package's dependencies among them) and qemu-user to run the tests on the arm64 build.
  g++-aarch64-linux-gnu qemu-user libc6:arm64 libstdc++6:arm64
  libavahi-client-dev:arm64 libavahi-client3:arm64 libssl-dev:arm64
)

missing=()
for p in "${packages[@]}"; do
  # dpkg-query prints "install ok installed" only for packages that are fully installed.
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then

  sudo_cmd=()
  [ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)

  echo "setup: installing ${missing[*]}" >&2
  for architecture in i386 arm64; do
    if ! dpkg --print-foreign-architectures | grep -qx "$architecture"; then
      "${sudo_cmd[@]}" dpkg --add-architecture "$architecture"
    fi
  done
  "${sudo_cmd[@]}" apt-get update -qq >/dev/null
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# cpp-httplib's single header, from Debian's source package (never committed).
bash "$(dirname "$0")/fetch-httplib.sh"
