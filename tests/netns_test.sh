#!/usr/bin/env bash
# The command-line host inside network namespaces that hold only software
# interfaces, where the fallback decides. Each scenario's expected code is
# computed here from sysfs with md5sum, independently of the library.
# Needs root and unshare; exits 77 (skipped) without them.
set -euo pipefail

cli="$1"
if [[ "$(id -u)" != 0 ]] || ! command -v unshare >/dev/null || ! command -v ip >/dev/null ||
  ! unshare -nm true 2>/dev/null; then
  echo "skipped: needs root, unshare and ip"
  exit 77
fi

# scenario NAME SETUP EXPECTED_INTERFACE: EXPECTED_INTERFACE is the interface whose
# address must decide, or "none" for the empty text.
scenario() {
  local name="$1" setup="$2" expected="$3"
  local result
  result=$(unshare -nm bash -c '
    set -e
    mount -t sysfs sysfs /sys
    '"$setup"'
    if [[ "'"$expected"'" == none ]]; then
      text=""
    else
      text=$(tr -d ":\n" < /sys/class/net/'"$expected"'/address | tr a-f A-F)
    fi
    want=$(printf "%s" "$text" | md5sum | cut -c1-32 | tr a-f A-F)
    got=$("'"$cli"'")
    echo "$want $got"
  ')
  read -r want got <<<"$result"
  if [[ "$want" != "$got" ]]; then
    echo "FAIL $name: expected $want, got $got"
    return 1
  fi
  echo "ok   $name: $got"
}

software='ip link add v0 type veth peer name v1; ip link add br0 type bridge; ip link set lo up'
scenario "loopback only" 'true' none
scenario "IPv4 on a veth decides" "$software; ip addr add 192.0.2.1/24 dev v0" v0
scenario "no IPv4: the last interface" "$software" br0
