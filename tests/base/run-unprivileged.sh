#!/bin/sh
# Runs a test program as the unprivileged user nobody. Ends with 77 (skipped) and
# says why when this machine does not allow it.
skip() {
  echo "skipped: $*"
  exit 77
}
[ "$(id -u)" = 0 ] || skip "not root; the tests have run as this unprivileged user already"
command -v setpriv >/dev/null 2>&1 || skip "setpriv is missing"
as_nobody() {
  setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all -- "$@"
}
as_nobody true 2>/dev/null || skip "cannot switch to user nobody (65534)"
as_nobody test -x "$1" || skip "user nobody cannot run $1"
tmp="${TMPDIR:-/tmp}"
as_nobody test -w "$tmp" || skip "user nobody cannot write in $tmp"
exec setpriv --reuid=65534 --regid=65534 --clear-groups --inh-caps=-all -- "$@"
