#!/usr/bin/env bash
# Installs everything the three builds and their tests need on Debian 12.
# Idempotent: when every package is already there it only checks and returns.
#
# The package archive is sometimes caught mid-sync: one suite's index has the wrong size
# for minutes. The update is retried; if one suite still does not answer, the install
# uses only the suites whose indexes all came, so that the 64-bit and 32-bit packages are
# taken from the same place and get the same versions.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  python3-dev python3-pybind11 pybind11-dev python3-pytest
  python3-pip python3-setuptools python3-wheel python3-venv python3-build python3-mypy
  clang libclang-rt-14-dev
  mingw-w64 mingw-w64-tools
  wine64 wine32:i386 wine64-tools libwine-dev fonts-wine
  gcc-multilib
  xvfb xauth socat python3 locales
  python3-serial python3-numpy
  nlohmann-json3-dev
  nsis python3-markdown wixl
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
apt_options=()   # set to a restricted source list when a suite did not answer
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() { echo "setup: $*" >&2; exit 1; }

# The suites named in apt's "Failed to fetch .../dists/<suite>/..." lines.
failed_suites() {
  sed -n 's#^[EW]: Failed to fetch [^ ]*/dists/\([^/ ]*\)/.*#\1#p' "$1" | sort -u
}

# Writes the system's source lists without the given suites into $work/sources: one-line
# lists lose their lines, deb822 stanzas the suites (a stanza left without any is dropped).
write_sources_without() {
  local skip=" $* " f
  rm -rf "$work/sources"; mkdir -p "$work/sources/parts"
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] || continue
    awk -v skip="$skip" '
      /^[ \t]*(deb|deb-src)[ \t]/ {
        line = $0; sub(/^[ \t]+/, "", line); gsub(/\[[^]]*\]/, "", line)
        split(line, w, /[ \t]+/)
        if (index(skip, " " w[3] " ")) next
      }
      { print }' "$f" >"$work/sources/parts/$(basename "$f")"
  done
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] || continue
    awk -v skip="$skip" '
      function flush() { if (stanza != "" && keep) printf "%s\n", stanza; stanza = ""; keep = 1 }
      BEGIN { keep = 1 }
      /^[ \t]*$/ { flush(); next }
      /^Suites:/ {
        n = split(substr($0, 8), s, /[ \t]+/); out = ""
        for (i = 1; i <= n; i++) if (s[i] != "" && !index(skip, " " s[i] " ")) out = out " " s[i]
        if (out == "") keep = 0
        $0 = "Suites:" out
      }
      { stanza = stanza $0 "\n" }
      END { flush() }' "$f" >"$work/sources/parts/$(basename "$f")"
  done
}

update_index() {
  local try log="$work/update.log" suites
  for try in 1 2 3; do
    if "${sudo_cmd[@]}" apt-get update -qq >"$log" 2>&1; then return 0; fi
    suites=$(failed_suites "$log" | tr '\n' ' ')
    [ -n "$suites" ] || { cat "$log" >&2; fail "apt-get update failed (see above); check the network and the sources in /etc/apt"; }
    [ "$try" = 3 ] || { echo "setup: the package index of ${suites% } did not download (mirror sync in progress?); retrying in $((try * 10)) s"; sleep $((try * 10)); }
  done
  echo "setup: the index of ${suites% } still does not download; installing from the other suites only"
  write_sources_without $suites
  apt_options=(-o "Dir::Etc::SourceList=/dev/null" -o "Dir::Etc::SourceParts=$work/sources/parts")
  if ! "${sudo_cmd[@]}" apt-get "${apt_options[@]}" update -qq >"$log" 2>&1; then
    cat "$log" >&2
    fail "apt-get update failed even without ${suites% }: the package archive is unreachable or mid-sync; try again in a few minutes"
  fi
}

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
  update_index
  # Another install may hold the package database for a while (unattended upgrades, a
  # second checkout's setup): wait for it rather than fail.
  if ! "${sudo_cmd[@]}" apt-get "${apt_options[@]}" -o DPkg::Lock::Timeout=300 install -y -qq --no-install-recommends "${missing[@]}" >"$work/install.log" 2>&1; then
    tail -n 20 "$work/install.log" >&2
    fail "apt-get install failed for ${missing[*]} (its last lines are above)"
  fi
elif [ "${need_update:-0}" = 1 ]; then
  update_index
fi

# Debian ships 'wine' as a launcher that needs wine32 for 32-bit programs; make sure
# both loaders are reachable under predictable names.
for exe in /usr/lib/wine/wine /usr/lib/wine/wine64; do
  [ -x "$exe" ] || fail "$exe is missing after install"
done
# A locale with a decimal comma, for the test that proves numbers ignore regional settings.
if ! locale -a 2>/dev/null | grep -qi '^de_DE\.utf-\?8$'; then
  "${sudo_cmd[@]}" sed -i 's/^# *de_DE.UTF-8 UTF-8/de_DE.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^de_DE.UTF-8 UTF-8' /etc/locale.gen || echo 'de_DE.UTF-8 UTF-8' | "${sudo_cmd[@]}" tee -a /etc/locale.gen >/dev/null
  "${sudo_cmd[@]}" locale-gen >/dev/null
fi
echo "setup: all packages present"
