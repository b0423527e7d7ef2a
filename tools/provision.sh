#!/usr/bin/env bash
# Provision the Python 3.15 toolchain (release and debug interpreters, headers,
# test libraries, raylib, packaging tools) from Debian's unstable suite into a
# cache outside the clone, link it as .toolchain at the repository root, and
# install the machine's own packages for the purposes named:
#
#   tools/provision.sh [PURPOSE...]     e.g. tools/provision.sh build test
#
# A purpose is the name of a list tools/host-packages/<purpose>.txt (build,
# demo, test, bench, coverage); no purpose means all of them, and `build`
# (what fetching the toolchain and building the modules need) is always
# included. The toolchain
# itself is one prefix whatever the purposes: every list of
# tools/sid-packages/ goes into it.
#
# Idempotent: a finished cache carries a stamp file; anything without the stamp
# is discarded and rebuilt, so a half-done download is never taken for a good one.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CACHE="${KORA_TOOLCHAIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kora_ui-toolchain}"
STAMP_VERSION=6
NEEDS="an x86-64 (amd64) Debian system (bookworm or later) with dpkg and apt"

die() { echo "provision: $*" >&2; exit 1; }

# Before anything else: the toolchain is Debian's amd64 build, unpacked with
# dpkg and fetched with apt.
check_system() {
  local arch os="unknown"
  [ -r /etc/os-release ] && os=$(. /etc/os-release && echo "${PRETTY_NAME:-${ID:-unknown}}")
  arch=$(uname -m)
  case "$arch" in
    x86_64 | amd64) ;;
    *) die "needs $NEEDS; this machine is $arch ($os)" ;;
  esac
  if [ ! -e /etc/debian_version ] || ! command -v dpkg >/dev/null; then
    die "needs $NEEDS; this machine is $os, without Debian's dpkg"
  fi
  for tool in apt-get dpkg-query dpkg-deb; do
    command -v "$tool" >/dev/null || die "needs $NEEDS; $tool is missing on this machine ($os)"
  done
  [ "$(dpkg --print-architecture)" = amd64 ] \
    || die "needs $NEEDS; dpkg's architecture here is $(dpkg --print-architecture)"
}
check_system

read_lists() {
  sed -e 's/#.*//' "$@" | tr -s ' \t' '\n' | grep -v '^$' | sort -u
}

# The purposes asked for: every list name given must exist.
PURPOSES=("$@")
if [ ${#PURPOSES[@]} = 0 ]; then
  mapfile -t PURPOSES < <(cd "$ROOT/tools/host-packages" && ls ./*.txt | sed -e 's|^\./||' -e 's/\.txt$//')
fi
HOST_LISTS=("$ROOT/tools/host-packages/build.txt")
for purpose in "${PURPOSES[@]}"; do
  list="$ROOT/tools/host-packages/$purpose.txt"
  [ -f "$list" ] || die "unknown purpose '$purpose'; purposes: $(cd "$ROOT/tools/host-packages" && ls ./*.txt | sed -e 's|^\./||' -e 's/\.txt$//' | tr '\n' ' ')"
  HOST_LISTS+=("$list")
done

# The sid packages, one list file per job under tools/sid-packages/. The
# prefix is keyed by a hash of the lists, so a changed list gets a fresh
# prefix beside the old one instead of rewriting a prefix in use.
mapfile -t PACKAGES < <(read_lists "$ROOT"/tools/sid-packages/*.txt)
LIST_HASH=$( (echo "v$STAMP_VERSION"; printf '%s\n' "${PACKAGES[@]}") | sha256sum | cut -c1-12)
PREFIX="$CACHE/prefix-$LIST_HASH"
STAMP="$PREFIX/.complete"
# Packages of the machine's own Debian release, installed with apt-get when
# missing.
mapfile -t HOST_PACKAGES < <(read_lists "${HOST_LISTS[@]}")

link_toolchain() {
  ln -sfn "$PREFIX" "$ROOT/.toolchain"
}

host_tools_present() {
  local pkg
  for pkg in "${HOST_PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || return 1
  done
}

install_host_tools() {
  host_tools_present && return 0
  echo "provision: installing host packages for ${PURPOSES[*]}: ${HOST_PACKAGES[*]}"
  local sudo=""
  if [ "$(id -u)" != 0 ]; then
    command -v sudo >/dev/null || die "installing ${HOST_PACKAGES[*]} needs root (or sudo)"
    sudo="sudo"
  fi
  $sudo apt-get update -qq || die "apt-get update failed"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${HOST_PACKAGES[@]}" >/dev/null \
    || die "apt-get install of host packages failed: ${HOST_PACKAGES[*]}"
}

# The Debian archive the machine's apt already uses (its sid suite is taken
# from there): the first non-security URI whose path ends in /debian, from
# deb822 .sources files and one-line .list files alike. KORA_DEBIAN_MIRROR
# names another one.
debian_uri() {
  if [ -n "${KORA_DEBIAN_MIRROR:-}" ]; then
    echo "$KORA_DEBIAN_MIRROR"
    return
  fi
  local files=() file uri=""
  for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
    [ -r "$file" ] && files+=("$file")
  done
  [ ${#files[@]} -gt 0 ] && uri=$( { awk 'tolower($1) == "uris:" { for (i = 2; i <= NF; i++) print $i }' "${files[@]}" 2>/dev/null
           awk '$1 == "deb" { for (i = 2; i <= NF; i++) if ($i !~ /^\[/ && $i !~ /\]$/ && $i !~ /=/) { print $i; break } }' \
             "${files[@]}" 2>/dev/null; } \
         | grep -v -i security | grep -E '^(https?|file)://.*/debian/?$' | head -n1 || true)
  [ -n "$uri" ] || die "no Debian archive found in the apt sources (/etc/apt/sources.list, /etc/apt/sources.list.d/); \
add one (the toolchain comes from its unstable suite), or name a mirror: KORA_DEBIAN_MIRROR=<archive URI> $0"
  echo "${uri%/}"
}

deb_version() { dpkg-deb -f "$1" Version; }

fetch_prefix() {
  local work="$CACHE/work.$$"
  rm -rf "$work"
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/debs"
  local uri keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  [ -r "$keyring" ] || die "needs Debian's archive keyring ($keyring, package debian-archive-keyring)"
  uri="$(debian_uri)"
  echo "deb [signed-by=$keyring] $uri sid main" > "$work/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=-"
              -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
              -o "Dir::State::status=/dev/null" -o "Debug::NoLocking=1" -o "APT::Sandbox::User=root")
  echo "provision: fetching package lists of Debian sid from $uri"
  apt-get "${opts[@]}" -qq update || die "apt-get update of the sid package lists failed ($uri)"
  echo "provision: downloading ${#PACKAGES[@]} packages"
  (cd "$work/debs" && apt-get "${opts[@]}" -qq download "${PACKAGES[@]}") \
    || die "apt-get download failed for one of: ${PACKAGES[*]}"
  # ensurepip must belong to the very interpreter build it is unpacked beside.
  local py venv
  py=$(deb_version "$work"/debs/python3.15_*.deb)
  venv=$(deb_version "$work"/debs/python3.15-venv_*.deb)
  [ "$py" = "$venv" ] || die "python3.15-venv $venv does not match python3.15 $py in sid; try again later"
  local staged="$work/prefix"
  mkdir -p "$staged"
  for deb in "$work/debs"/*.deb; do
    dpkg -x "$deb" "$staged" || die "dpkg -x failed on $deb"
  done
  local ld="$PREFIX/usr/lib/x86_64-linux-gnu/ld-linux-x86-64.so.2"
  for exe in python3.15 python3.15d; do
    [ -x "$staged/usr/bin/$exe" ] || die "$exe missing from the downloaded packages"
    # The interpreter is patched to the final prefix path, where it is moved below.
    patchelf --set-interpreter "$ld" --force-rpath \
      --set-rpath "$PREFIX/usr/lib/x86_64-linux-gnu" "$staged/usr/bin/$exe" \
      || die "patchelf failed on $exe"
  done
  # ensurepip takes pip's wheel from the interpreter's WHEEL_PKG_DIR, built in
  # as /usr/share/python-wheels: the prefix's own copy, not the host's.
  sed -i "s|'WHEEL_PKG_DIR': '/usr/share/python-wheels/'|'WHEEL_PKG_DIR': '$PREFIX/usr/share/python-wheels/'|" \
    "$staged"/usr/lib/python3.15/_sysconfigdata_*.py
  rm -rf "$PREFIX"
  mv "$staged" "$PREFIX"
  # Check that it runs before calling it good.
  "$PREFIX/usr/bin/python3.15" -c 'import pytest, hypothesis, cffi, ensurepip, sysconfig' \
    || { rm -rf "$PREFIX"; die "provisioned interpreter does not run"; }
  "$PREFIX/usr/bin/python3.15" -c 'import sys, sysconfig; from pathlib import Path
d = Path(sysconfig.get_config_var("WHEEL_PKG_DIR"))
sys.exit(not (d.is_relative_to(sys.argv[1]) and any(d.glob("pip-*.whl"))))' "$PREFIX" \
    || { rm -rf "$PREFIX"; die "the provisioned ensurepip finds no pip wheel in the prefix"; }
  "$PREFIX/usr/bin/python3.15d" -c 'import sys; assert hasattr(sys, "gettotalrefcount")' \
    || { rm -rf "$PREFIX"; die "provisioned debug interpreter does not run"; }
  touch "$STAMP"
  rm -rf "$work"
}

main() {
  install_host_tools
  mkdir -p "$CACHE"
  if [ ! -e "$STAMP" ]; then
    exec 9>"$CACHE/.lock"
    flock 9
    [ -e "$STAMP" ] || fetch_prefix
  fi
  link_toolchain
  echo "provision: toolchain ready at $ROOT/.toolchain -> $PREFIX"
}

main
