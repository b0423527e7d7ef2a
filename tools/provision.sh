#!/usr/bin/env bash
# Provision the Python 3.15 toolchain (release and debug interpreters, headers,
# test libraries, raylib) from Debian's unstable suite into a cache outside the
# clone, and link it as .toolchain at the repository root.
#
# Idempotent: a finished cache carries a stamp file; anything without the stamp
# is discarded and rebuilt, so a half-done download is never taken for a good one.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
CACHE="${KORA_TOOLCHAIN_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/kora_ui-toolchain}"
STAMP_VERSION=5

die() { echo "provision: $*" >&2; exit 1; }

# The sid packages, one list file per purpose under tools/sid-packages/ (core:
# the interpreters, test libraries and raylib; others: tools of one job). The
# prefix is keyed by a hash of the lists, so a changed list gets a fresh
# prefix beside the old one instead of rewriting a prefix in use.
mapfile -t PACKAGES < <(cat "$ROOT"/tools/sid-packages/*.txt | sed -e 's/#.*//' | tr -s ' \t' '\n' | grep -v '^$' | sort -u)
LIST_HASH=$( (echo "v$STAMP_VERSION"; printf '%s\n' "${PACKAGES[@]}") | sha256sum | cut -c1-12)
PREFIX="$CACHE/prefix-$LIST_HASH"
STAMP="$PREFIX/.complete"
# Packages of the machine's own Debian release, installed with apt-get when
# missing, one list file per purpose under tools/host-packages/.
mapfile -t HOST_PACKAGES < <(cat "$ROOT"/tools/host-packages/*.txt | sed -e 's/#.*//' | tr -s ' \t' '\n' | grep -v '^$' | sort -u)

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
  echo "provision: installing host packages: ${HOST_PACKAGES[*]}"
  local sudo=""
  [ "$(id -u)" = 0 ] || sudo="sudo"
  $sudo apt-get update -qq || die "apt-get update failed"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${HOST_PACKAGES[@]}" >/dev/null \
    || die "apt-get install of host packages failed: ${HOST_PACKAGES[*]}"
}

debian_uri() {
  local uri
  uri=$(grep -h -E '^\s*URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null \
        | awk '{print $2}' | grep -v security | head -n1 || true)
  if [ -z "$uri" ]; then
    uri=$(grep -h -E '^\s*deb\s' /etc/apt/sources.list 2>/dev/null \
          | awk '{print $2}' | grep -v security | head -n1 || true)
  fi
  echo "${uri:-http://deb.debian.org/debian}"
}

fetch_prefix() {
  local work="$CACHE/work.$$"
  rm -rf "$work"
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial" "$work/debs"
  local uri keyring=/usr/share/keyrings/debian-archive-keyring.gpg
  uri="$(debian_uri)"
  echo "deb [signed-by=$keyring] $uri sid main" > "$work/sources.list"
  local opts=(-o "Dir::Etc::SourceList=$work/sources.list" -o "Dir::Etc::SourceParts=-"
              -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache"
              -o "Dir::State::status=/dev/null" -o "Debug::NoLocking=1")
  echo "provision: fetching package lists of Debian sid from $uri"
  apt-get "${opts[@]}" -qq update || die "apt-get update of the sid package lists failed ($uri)"
  echo "provision: downloading ${#PACKAGES[@]} packages"
  (cd "$work/debs" && apt-get "${opts[@]}" -qq download "${PACKAGES[@]}") \
    || die "apt-get download failed for one of: ${PACKAGES[*]}"
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
  rm -rf "$PREFIX"
  mv "$staged" "$PREFIX"
  # Check that it runs before calling it good.
  "$PREFIX/usr/bin/python3.15" -c 'import pytest, hypothesis, cffi, sysconfig' \
    || { rm -rf "$PREFIX"; die "provisioned interpreter does not run"; }
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

main "$@"
