#!/bin/sh
# Runs the look-up test of tst_web with /etc/resolv.conf replaced, in a private mount
# namespace, by one that names only 127.0.0.1, where the test keeps a name server that never
# answers. Exits 77 (skipped) where no mount namespace can be made.
#   blackhole_dns.sh <tst_web>
set -eu
program=$1
unshare -m true 2>/dev/null || { echo "no mount namespace here: skipped"; exit 77; }
conf=$(mktemp)
trap 'rm -f "$conf"' EXIT
echo "nameserver 127.0.0.1" >"$conf"
QUORVANE_DNS_BLACKHOLE=1 unshare -m sh -c \
    'mount --bind "$1" /etc/resolv.conf && exec "$2" stopWhileTheNameIsLookedUp' \
    sh "$conf" "$program"
