#!/usr/bin/env bash
# The command-line host inside network namespaces that hold only software
# interfaces, where the fallback decides: with /sys remounted for the
# namespace, with the host's /sys left in place (as `unshare -n` and
# systemd's PrivateNetwork=yes leave it), and with /sys hidden. Each
# scenario's expected code is computed here from `ip link` with md5sum,
# independently of the library; the support report (--explain --json) must
# agree with it and name the expected interface, and --match must find that
# interface from the code.
# Needs root, unshare, ip and jq; exits 77 (skipped) without them.
set -euo pipefail

cli="$(realpath "$1")"
schema="$2"
validator="$(dirname "$0")/report_schema_test.py"
if [[ "$(id -u)" != 0 ]] || ! command -v unshare >/dev/null || ! command -v ip >/dev/null ||
  ! command -v jq >/dev/null || ! unshare -nm true 2>/dev/null; then
  echo "skipped: needs root, unshare, ip and jq"
  exit 77
fi

# scenario NAME SETUP EXPECTED_INTERFACE WARNINGS [SYS]: EXPECTED_INTERFACE is
# the interface whose address must decide, or "none" for the empty text;
# WARNINGS the report's warning codes, joined by commas; SYS what the
# namespace sees under /sys: "own" (sysfs remounted, the default), "host"
# (the host's, left in place) or "hidden" (an empty tmpfs). Every report must
# match the schema.
scenario() {
  local name="$1" setup="$2" expected="$3" warnings="$4" sys="${5:-own}"
  local mountSys
  case "$sys" in
    own) mountSys="mount -t sysfs sysfs /sys" ;;
    host) mountSys="true" ;;
    hidden) mountSys="mount -t tmpfs none /sys" ;;
  esac
  local lines
  mapfile -t lines < <(unshare -nm bash -c '
    set -e
    '"$mountSys"'
    '"$setup"'
    if [[ "'"$expected"'" == none ]]; then
      text=""
    else
      text=$(ip -o link show dev '"$expected"' |
        sed -n "s/.*link\/ether \([0-9a-f:]*\).*/\1/p" | tr -d ":" | tr a-f A-F)
    fi
    want=$(printf "%s" "$text" | md5sum | cut -c1-32 | tr a-f A-F)
    got=$("'"$cli"'" 2>/dev/null)
    weak=$("'"$cli"'" 2>&1 >/dev/null)
    report=$("'"$cli"'" --explain --json)
    echo "$want"
    echo "$got"
    jq -r ".deviceCode, .strategy, (if .chosenIndex == null then \"none\"
      else .adapters[.chosenIndex].description end),
      (.warnings | map(.code) | join(\",\"))" <<<"$report"
    "'"$cli"'" --match "$got" && echo 0 || echo $?
    echo "$weak"
    python3 "'"$validator"'" "'"$schema"'" - <<<"$report" >/dev/null && echo valid || echo invalid
  ')
  local want="${lines[0]-}" got="${lines[1]-}" reported="${lines[2]-}" strategy="${lines[3]-}"
  local chosen="${lines[4]-}" reportedWarnings="${lines[5]-}" match="${lines[6]-}"
  local matchStatus="${lines[7]-}" weak="${lines[8]-}" valid="${lines[9]-}"
  local fail=""
  [[ "$want" == "$got" ]] || fail+=" expected $want, got $got;"
  [[ "$reported" == "$got" ]] || fail+=" --explain reports $reported;"
  [[ "$reportedWarnings" == "$warnings" ]] || fail+=" --explain warns: $reportedWarnings;"
  if [[ "$expected" == none ]]; then
    [[ "$strategy $chosen" == "none none" ]] || fail+=" --explain chose $strategy: $chosen;"
    [[ "$match" == *"no adapter qualifies"* ]] || fail+=" --match says: $match;"
  else
    [[ "$strategy" == fallback && "$chosen" == *" interface $expected" ]] ||
      fail+=" --explain chose $strategy: $chosen;"
    [[ "$match" == *"interface $expected)"*"chosen now" ]] || fail+=" --match says: $match;"
  fi
  [[ "$matchStatus" == 0 ]] || fail+=" --match exit status $matchStatus;"
  # The plain form's one line on stderr for a weak code.
  local weakStart="devicecode: warning: the fallback decided"
  [[ "$expected" == none ]] && weakStart="devicecode: warning: no adapter qualified"
  [[ "$weak" == "$weakStart"* ]] || fail+=" stderr says: $weak;"
  [[ "$valid" == valid ]] || fail+=" the JSON report does not match the schema;"
  if [[ -n "$fail" ]]; then
    echo "FAIL $name:$fail"
    return 1
  fi
  echo "ok   $name: $got"
}

software='ip link add v0 type veth peer name v1; ip link add br0 type bridge; ip link set lo up'
# Software devices get random, locally administered addresses; with IPv4 on v0
# the last interface br0 qualifies too, so the list order decides.
scenario "loopback only" 'true' none "no-adapter-qualified"
scenario "IPv4 on a veth decides" "$software; ip addr add 192.0.2.1/24 dev v0" v0 \
  "locally-administered-address,order-dependent,fallback-decided"
scenario "no IPv4: the last interface" "$software" br0 \
  "locally-administered-address,fallback-decided"
# An address with an alias label ("v1:x") still gives v1 its IPv4 context.
scenario "IPv4 under an alias label" "$software; ip addr add 192.0.2.1/24 dev v1 label v1:x" v1 \
  "locally-administered-address,order-dependent,fallback-decided"

# Judged in the caller's own namespace: the host's /sys does not know the
# namespace's veth, and a hidden /sys knows nothing; neither makes a software
# device physical.
for sys in host hidden; do
  scenario "IPv4 on a veth decides, $sys /sys" "$software; ip addr add 192.0.2.1/24 dev v0" v0 \
    "locally-administered-address,order-dependent,fallback-decided" \
    "$sys"
  scenario "an ifb last, $sys /sys" "$software; ip link add i0 type ifb" i0 \
    "locally-administered-address,fallback-decided" "$sys"
done
# A tun device has no link-layer address; it is listed all the same, so the
# last interface is the tun device, and it does not qualify.
scenario "tun device last, no address" "$software; ip tuntap add mode tun tun0" none \
  "no-adapter-qualified" host

# An interface name that is not UTF-8 (names are bytes, like Windows' ANSI
# descriptions): the JSON report must still be written, with U+FFFD for the byte.
description=$(unshare -nm bash -c '
  set -e
  mount -t sysfs sysfs /sys
  ip link add $'"'"'v\xe9'"'"' type veth peer name v1
  "'"$cli"'" --explain --json | jq -r ".adapters[].description | select(endswith(\"v\\ufffd\"))"
')
if [[ "$description" != $'Virtual network interface v\xef\xbf\xbd' ]]; then
  echo "FAIL non-UTF-8 name: got '$description'"
  exit 1
fi
echo "ok   non-UTF-8 name: $description"

# An interface named ESC [2J would clear the screen: the text report and
# --match show it escaped, and print no ESC byte at all.
output=$(unshare -nm bash -c '
  set -e
  mount -t sysfs sysfs /sys
  ip link add "$(printf "\033[2J")" type veth peer name v1
  "'"$cli"'" --explain
  "'"$cli"'" --match "$(printf 0A | md5sum | cut -c1-32)" || true
')
if [[ "$output" == *$'\e'* || "$output" != *'\x1B[2J'* ]]; then
  echo "FAIL escape name: $(printf '%q' "$output")"
  exit 1
fi
echo "ok   ESC [2J as an interface name is escaped"

# Without /proc, run through a symbolic link elsewhere: the default plug-in
# is still the one beside the tool's real file.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
ln -s "$cli" "$scratch/devicecode"
without_proc() { (cd "$scratch" && unshare -m bash -c 'mount -t tmpfs none /proc; "$@"' - "$@"); }
# Sanitizer runtimes cannot start without /proc; --version shows whether this
# build can.
if ! without_proc ./devicecode --version >/dev/null 2>&1; then
  echo "skip without /proc: this build's runtime needs /proc"
  exit 0
fi
want=$("$cli" 2>/dev/null)
got=$(without_proc ./devicecode 2>/dev/null)
if [[ "$got" != "$want" ]]; then
  echo "FAIL without /proc: expected $want, got '$got'"
  exit 1
fi
echo "ok   without /proc: $got"
