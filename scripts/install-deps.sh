#!/usr/bin/env bash
# Installs from Debian's packages everything the build, the tests and the programs need:
# the Linux build (Qt 6, sd-bus), the Windows build (i686 MinGW-w64, 32-bit Wine) and the
# Debian package tools, and the tools the brevand-batch tests set and read files with
# (setfacl, setfattr, patch).
# Idempotent: when every package is present it only checks and returns.
set -euo pipefail

packages=(
  cmake ninja-build g++ pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  clang-14 libfuzzer-14-dev libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libqt6dbus6 libqt6network6 libqt6test6
  libqt6opengl6-dev libgl1-mesa-dri
  libsystemd-dev
  dbus dbus-bin dbus-daemon dbus-x11
  xvfb xauth xdotool x11-utils fonts-wine libxcb1-dev
  x11-apps
  g++-mingw-w64-i686 mingw-w64-i686-dev binutils-mingw-w64-i686
  wine wine32:i386 wine64
  dpkg-dev fakeroot lintian file
  acl attr patch
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

# 32-bit Wine needs the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
fi

# A mirror caught mid-sync can fail one index (seen: the i386 security index); the
# rest are still good, so that alone does not stop the install.
"${sudo_cmd[@]}" apt-get update -qq || echo "apt-get update reported errors; going on with the indexes it has"

apt_install() {
  DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "$@" "${missing[@]}"
}
if ! apt_install; then
  # Multi-arch needs the same version of a library for amd64 and i386. When the
  # i386 security index is missing, prefer the main archive's versions, which
  # exist for both architectures.
  pref=$(mktemp)
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$pref"
  apt_install -o Dir::Etc::Preferences="$pref"
  rm -f "$pref"
fi
