#!/bin/sh
# Runs a command with a lock place of its own: DIR is bound over the places
# where Tavolen keeps its single-instance lock (/tmp/tavolen-<uid>, and
# /run/user/<uid> when it exists), in a mount namespace of the command's own.
# The programs choose their lock's place from the user alone, so tests that
# run at the same time (ctest -j, other checkouts on the machine) would
# otherwise all meet one lock; this way each test meets only its own, and the
# programs under test run exactly as shipped.
#
#   private_lock_place.sh DIR COMMAND [ARGUMENT...]
set -eu
dir=$1
shift
uid=$(id -u)
# The mount point must exist; it is the place the programs make themselves.
mkdir -p -m 700 "/tmp/tavolen-$uid"
namespaces="--mount"
[ "$uid" -eq 0 ] || namespaces="--user --map-current-user --mount"
# shellcheck disable=SC2016,SC2086  # the inner shell expands; the flags split
exec unshare $namespaces --propagation private -- sh -c '
  dir=$1 uid=$2
  shift 2
  mount --bind "$dir" "/tmp/tavolen-$uid"
  if [ -d "/run/user/$uid" ]; then mount --bind "$dir" "/run/user/$uid"; fi
  exec "$@"' sh "$dir" "$uid" "$@"
