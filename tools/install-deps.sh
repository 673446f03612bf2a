#!/usr/bin/env bash
# Installs every Debian package that fwload needs to build, run and test.
# Quick and silent when everything is there already.
set -euo pipefail

packages=(
  # build
  cmake ninja-build g++ pkg-config git
  qt6-base-dev qt6-base-dev-tools
  libcups2-dev libmspack-dev libcurl4-openssl-dev libsqlite3-dev
  libgtest-dev libgmock-dev
  # run
  cabextract
  # test peers: private print server, IPP printer, FTP server, cabinet and SZDD tools
  cups cups-daemon cups-client cups-ipp-utils avahi-daemon dbus
  python3 python3-pyftpdlib gcab mscompress curl
  # the fleet example: Ansible runs its playbook against localhost
  ansible-core
  # display, Japanese glyphs and screenshots
  xvfb xauth fonts-noto-cjk x11-apps imagemagick
  # fuzzing (clang's libFuzzer runtime)
  clang libclang-rt-14-dev
  # the Debian package: dependencies (dpkg-shlibdeps, which CPack runs with file), stripping and
  # run paths (binutils); its checks: lintian, the desktop entry, the AppStream metadata, the MIME
  # types
  dpkg-dev file binutils lintian desktop-file-utils appstream shared-mime-info
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${db:Status-Status}' "$p" 2>/dev/null | grep -qx installed; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
