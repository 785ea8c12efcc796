#!/usr/bin/env bash
# Installs the packages the build, the tests and the benchmarks need; only what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-multimedia-dev libqt6opengl6-dev libgl-dev
  zlib1g-dev libcurl4-openssl-dev libblkid-dev libsmbclient-dev
  googletest libgtest-dev libgmock-dev
  clang libclang-rt-14-dev
  python3-aiosmtpd samba smbclient cifs-utils zip unzip 7zip libarchive-tools
  xdg-utils xvfb xauth openbox x11-utils rsync hyperfine findutils procps util-linux time dosfstools
)
# Network shares and mail: gvfs's SMB backend and FUSE folders (share mounts), dbus for a test
# session bus, openssl for the mail tests' certificates.
packages+=(gvfs-backends gvfs-fuse dbus openssl)
# USB volumes: a private D-Bus bus and a stand-in UDisks2 service for the safe-removal tests.
packages+=(dbus-daemon python3-dbus python3-gi)
# Windows: Qt's own French texts, the SVG pictures (image and icon plugins), screenshots (import)
packages+=(qt6-translations-l10n libqt6svg6 qt6-svg-dev imagemagick)
# Updater: Ed25519 signatures of update archives (libcrypto), and the signing script's tool.
packages+=(libssl-dev openssl)
# Shares through gvfs: the gio tool that mounts them (not pulled in by gvfs itself).
packages+=(libglib2.0-bin)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
