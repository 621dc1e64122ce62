#!/bin/sh
# Runs a program as systemd would run a service that logs to the journal, with a real
# systemd-journald of its own: in a mount namespace (root only) whose /run is private, the
# journald's socket is where libsystemd sends to, and its journal files go to $KELVORA_JOURNAL_DIR,
# which the test reads with journalctl --directory. The program's stderr is this script's, and
# JOURNAL_STREAM names it (KELVORA_JOURNAL_STREAM=own), names another stream as a variable
# inherited from a parent would (inherited), or is unset (unset). TERM, INT, USR1 and USR2 are
# passed to the program; the journald ends after it, and the script exits with its status. The
# program is named by the environment, so the script takes the program's own command line.
#   KELVORA_JOURNAL_DIR=DIR KELVORA_JOURNAL_STREAM=own KELVORA_JOURNAL_PROGRAM=PROGRAM \
#     in-journal-namespace.sh [ARGS...]
set -eu
if [ -z "${KELVORA_JOURNAL_NAMESPACE:-}" ]; then
  export KELVORA_JOURNAL_NAMESPACE=1
  exec unshare --mount --propagation private "$0" "$@"
fi
mount -t tmpfs -o mode=0755 tmpfs /run
mkdir -p /run/systemd /run/log/journal
mount --bind "$KELVORA_JOURNAL_DIR" /run/log/journal
/lib/systemd/systemd-journald </dev/null >/dev/null 2>&1 &
journald=$!
tries=0
until [ -S /run/systemd/journal/socket ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 200 ]; then
    echo "systemd-journald did not start" >&2
    exit 97
  fi
  sleep 0.05
done

case "$KELVORA_JOURNAL_STREAM" in
  own) JOURNAL_STREAM=$(stat -L -c %d:%i /proc/self/fd/2) && export JOURNAL_STREAM ;;
  inherited) export JOURNAL_STREAM=1:1 ;;
  *) unset JOURNAL_STREAM ;;
esac
unset KELVORA_JOURNAL_NAMESPACE

"$KELVORA_JOURNAL_PROGRAM" "$@" &
program=$!
trap 'kill -TERM $program' TERM
trap 'kill -INT $program' INT
trap 'kill -USR1 $program' USR1
trap 'kill -USR2 $program' USR2
# A trapped signal interrupts wait: wait again until the program itself has ended.
status=0
while :; do
  if wait "$program"; then status=0; else status=$?; fi
  kill -0 "$program" 2>/dev/null || break
done
# Everything the program sent is in the journal files before the journald ends.
journalctl --sync || true
kill -TERM "$journald"
wait "$journald" || true
exit "$status"
