#!/usr/bin/env bash
# Another local user against the plug-in's use of /tmp, with two uids: an
# attacker prepares /tmp, then a victim's host (the command-line tool) asks
# for its code. None of the attacks may work: a planted OrvenOption.ini is
# not read, pre-created TrelLog folders and log files (the private folder's
# name included) do not stop the victim's log, and a symlink or a file the
# attacker owns never receives the victim's lines. Each scenario runs in a
# private mount namespace with an empty sticky /tmp.
# Needs root, unshare and setpriv; exits 77 (skipped) without them.
#
#   shared_tmp_test.sh CLI LIBRARY
set -euo pipefail

cli="$1"
library="$2"
if [[ "$(id -u)" != 0 ]] || ! command -v unshare >/dev/null || ! command -v setpriv >/dev/null ||
  ! unshare -m true 2>/dev/null; then
  echo "skipped: needs root, unshare and setpriv"
  exit 77
fi

attacker=4001
victim=4002

# LEVEL=N [SETUP=...] [RUNS=N | EXPLAIN=1] scenario NAME ATTACK CHECK
# [VICTIM_ENV]: SETUP runs as root after the application is installed in
# /tmp/app, ATTACK runs as the attacker in /tmp, then the victim's host runs
# RUNS times (default once) with VICTIM_ENV (default: neither TMPDIR nor
# XDG_RUNTIME_DIR set) and plugin.ini at level N (none when empty) and must
# give its code within 20 seconds each time (with EXPLAIN, the victim runs
# `devicecode --explain` once instead, its output in $report), then CHECK
# runs as root and prints what is wrong.
scenario() {
  local output
  output=$(NAME="$1" SETUP="${SETUP:-}" RUNS="${RUNS:-1}" EXPLAIN="${EXPLAIN:-}" ATTACK="$2" CHECK="$3" VICTIM_ENV="${4:-}" CLI="$cli" LIBRARY="$library" \
    ATTACKER="$attacker" VICTIM="$victim" unshare -m bash -c '
    set -e
    mount -t tmpfs -o mode=1777 none /tmp
    mkdir -p /tmp/app/bin /tmp/app/lib
    cp "$CLI" /tmp/app/bin/devicecode
    cp "$LIBRARY" /tmp/app/lib/libdevicecode.so
    if [[ -n "$LEVEL" ]]; then
      printf "[Common]\nLogLevel=%s\n" "$LEVEL" > /tmp/app/lib/plugin.ini
    fi
    eval "$SETUP"
    cd /tmp
    setpriv --reuid="$ATTACKER" --regid="$ATTACKER" --clear-groups bash -c "$ATTACK"
    victim() {
      cd / && env -u TMPDIR -u XDG_RUNTIME_DIR $VICTIM_ENV timeout 20 \
        setpriv --reuid="$VICTIM" --regid="$VICTIM" --clear-groups /tmp/app/bin/devicecode \
        --library /tmp/app/lib/libdevicecode.so "$@"
    }
    if [[ -n "$EXPLAIN" ]]; then
      report=$(victim --explain)
    else
      for ((run = 0; run < RUNS; run++)); do
        code=$(victim)
        [[ ${#code} == 32 ]] || echo "no code: $code"
      done
    fi
    eval "$CHECK"
  ' 2>&1) || output+=" (status $?)"
  if [[ -n "$output" ]]; then
    echo "FAIL $1: $output"
    return 1
  fi
  echo "ok   $1"
}

# The count of Begin lines in each log file of the victim's.
victimLogs="find /tmp -name devicecode.log -user $victim -exec grep -c Begin {} +"

LEVEL="" scenario "planted OrvenOption.ini is not read" \
  'printf "[Common]\nLogLevel=700\n" > /tmp/OrvenOption.ini' \
  'log=/tmp/devicecode-'"$victim"'/devicecode.log
   [[ -f "$log" && ! -s "$log" ]] || echo "the option file was read: $(ls -lR /tmp)"'

LEVEL=600 scenario "pre-created folders and log files do not stop the log" \
  'mkdir /tmp/TrelLog /tmp/devicecode-'"$victim"'; touch /tmp/TrelLog/TrelLog.log /tmp/devicecode.log
   chmod 755 /tmp/TrelLog /tmp/devicecode-'"$victim"'' \
  'logs=$('"$victimLogs"')
   [[ "$logs" == 1 ]] || echo "victim logs: [$logs] $(ls -lR /tmp)"'

# The attacker's file, which must stay empty.
target='mkdir -m 777 /tmp/attacker; touch /tmp/attacker/target; chmod 666 /tmp/attacker/target'
empty='[[ ! -s /tmp/attacker/target ]] || echo "lines went to the attacker: $(cat /tmp/attacker/target)"'

LEVEL=600 scenario "symlink in /tmp" \
  "$target; ln -s /tmp/attacker/target /tmp/devicecode.log" "$empty"
# A victim that chose a folder everybody may write, sticky or not.
for mode in 777 1777; do
  LEVEL=600 scenario "symlink in a $mode folder named by TMPDIR" \
    "$target; mkdir -m $mode /tmp/shared; ln -s /tmp/attacker/target /tmp/shared/devicecode.log" \
    "$empty" "TMPDIR=/tmp/shared"
  LEVEL=600 scenario "attacker's file in a $mode folder named by TMPDIR" \
    "mkdir -m $mode /tmp/shared; touch /tmp/shared/devicecode.log; chmod 666 /tmp/shared/devicecode.log" \
    '[[ ! -s /tmp/shared/devicecode.log ]] || echo "lines went to the attacker: $(cat /tmp/shared/devicecode.log)"' \
    "TMPDIR=/tmp/shared"
done

# A FIFO under the log's name: opening it must not wait for a reader (which
# would hold every later request of the host). The day's folder under a Logs
# folder everybody may write is the attacker's; the victim logs in its own
# temporary folder instead.
LEVEL=600 SETUP='mkdir -m 1777 /tmp/app/Logs' scenario "FIFO under the log's name" \
  'mkdir -m 777 /tmp/app/Logs/$(date +%F); mkfifo -m 666 /tmp/app/Logs/$(date +%F)/devicecode.log' \
  'logs=$('"$victimLogs"')
   log=/tmp/devicecode-'"$victim"'/devicecode.log
   [[ "$logs" == 1 && $(grep -c Begin "$log") == 1 ]] || echo "victim logs: [$logs] $(ls -lR /tmp)"'

# While another user holds /tmp/devicecode-<uid>, the victim's loads share
# one folder of its own instead of making one each.
LEVEL=600 RUNS=3 scenario "one private folder for every load while the name is taken" \
  'mkdir -m 755 /tmp/devicecode-'"$victim" \
  'folders=$(find /tmp -maxdepth 1 -name "devicecode-'"$victim"'.*" -user '"$victim"' -perm 700 | wc -l)
   logs=$('"$victimLogs"')
   [[ "$folders" == 1 && "$logs" == 3 ]] || echo "folders: $folders, logs: [$logs] $(ls -la /tmp)"'

# And when the victim cannot make one (it may not write /tmp), no folder
# inside the attacker's is used either: the option files planted there are
# not read, so the victim's log (beside the library) stays empty.
LEVEL="" SETUP='chgrp '"$attacker"' /tmp; chmod 1771 /tmp; chmod 777 /tmp/app/lib' \
  scenario "no private folder to be had" \
  'mkdir -p -m 755 /tmp/devicecode-'"$victim"'/TrelLog
   for ini in /tmp/devicecode-'"$victim"'{,/TrelLog}/OrvenOption.ini; do
     printf "[Common]\nLogLevel=700\n" > "$ini"
   done' \
  'log=/tmp/app/lib/devicecode.log
   [[ -f "$log" && ! -s "$log" ]] || echo "the option file was read: $(ls -lR /tmp)"'

# The report creates nothing, not even the private folder; it says the
# set-up would.
EXPLAIN=1 LEVEL="" scenario "--explain creates no private folder" ":" \
  '[[ ! -e /tmp/devicecode-'"$victim"' ]] || echo "created: $(ls -la /tmp)"
   grep -q "set-up creates  *'/tmp/devicecode-"$victim"/'\$" <<<"$report" || echo "report: $report"'

# Without /proc the log file is opened by its path; in a folder others may
# write, that first open would follow a planted symlink (here to a file of
# the victim's own, which passes every later check), so the path is not used
# at all. /proc holds only what a sanitizer build needs to start (its
# options, without the leak check that cannot work there, and its own name);
# /proc/self/fd, which the log's open goes through, is missing.
LEVEL=600 SETUP='mount -t tmpfs none /proc; mkdir /proc/self
  printf "ASAN_OPTIONS=detect_leaks=0\\0" > /proc/self/environ
  ln -s /tmp/app/bin/devicecode /proc/self/exe
  install -o '"$victim"' -m 600 /dev/null /tmp/own' \
  scenario "symlink in a shared TMPDIR without /proc" \
  "mkdir -m 1777 /tmp/shared; ln -s /tmp/own /tmp/shared/devicecode.log" \
  '[[ ! -s /tmp/own ]] || echo "lines went through the symlink: $(cat /tmp/own)"' \
  "TMPDIR=/tmp/shared"
