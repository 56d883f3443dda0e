#!/usr/bin/env bash
# Installs everything the three builds and their tests need on Debian 12.
# Idempotent: when every package is already there it only checks and returns.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  mingw-w64 mingw-w64-tools
  wine64 wine32:i386 wine64-tools libwine-dev fonts-wine
  gcc-multilib
  xvfb xauth socat python3 locales
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  need_update=1
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get update -qq
  "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
elif [ "${need_update:-0}" = 1 ]; then
  "${sudo_cmd[@]}" apt-get update -qq
fi

# Debian ships 'wine' as a launcher that needs wine32 for 32-bit programs; make sure
# both loaders are reachable under predictable names.
for exe in /usr/lib/wine/wine /usr/lib/wine/wine64; do
  [ -x "$exe" ] || { echo "setup: $exe is missing after install" >&2; exit 1; }
done
# A locale with a decimal comma, for the test that proves numbers ignore regional settings.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  "${sudo_cmd[@]}" sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
echo "setup: all packages present"
