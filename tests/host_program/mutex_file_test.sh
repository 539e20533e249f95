#!/usr/bin/env bash
# The file in /dev/shm behind "KestrionMutex" (Linux): a closed standard
# output, a full /dev/shm, and files planted under the name never crash,
# block or corrupt a recording. The test runs with a /dev/shm of its own,
# made anew for each case.
if [ -z "${KX_OWN_SHM-}" ]; then
  export KX_OWN_SHM=1
  for how in "" "--user --map-root-user"; do
    unshare $how --mount --propagation private true 2>/dev/null &&
      exec unshare $how --mount --propagation private bash "$0" "$@"
  done
  echo "skipped: no private mount namespace here"
  exit 0
fi
source "$(dirname "$0")/lib.sh"
name=/dev/shm/kx-mutex.$(id -u).KestrionMutex
fresh_shm() { mount -t tmpfs -o "size=$1,mode=1777" kx /dev/shm || fail "cannot mount /dev/shm"; }
expect_shm_empty() { [ -z "$(ls -A /dev/shm)" ] || fail "$1: left in /dev/shm: $(ls -A /dev/shm)"; }
# said WHY: one message that the mutex stays within the process, and why.
said() { [ "$(grep -c "^Named mutex \"KestrionMutex\" is shared within this process only: .* $1\$" err.txt)" = 1 ] || fail "$1: $(cat err.txt)"; }

# A recording with standard output closed, beside a normal one: the mutex
# file is never the program's output, and both recordings are whole.
fresh_shm 1m
"$program" record a.bvh --seconds 2 --rate 20 >&- 2>a.err &
first=$!
host record b.bvh --seconds 2 --rate 20
expect_exit 0 "beside a closed standard output"
wait $first || fail "closed standard output: exit code $?"
for f in a-suit0 a-suit1 b-suit0 b-suit1; do check_bvh $f.bvh 20 40 >&2 || fail "closed stdout: $f.bvh is not whole"; done
grep "Named mutex" a.err err.txt && fail "closed stdout: the mutex was not shared"
expect_shm_empty "closed stdout"

# A full /dev/shm: the mutex stays within the process, with one message.
fresh_shm 8k
dd if=/dev/zero of=/dev/shm/fill bs=4096 count=4 2>/dev/null
host record c.bvh --seconds 1 --rate 20
expect_exit 0 "full /dev/shm"
check_bvh c-suit0.bvh 20 20 >&2 || fail "full /dev/shm: c-suit0.bvh is not whole"
said "no room.*"

# Files planted under the name. Another user's file, held locked by that
# user, and a symbolic link are refused with a message, and hold nothing
# up; a leftover of this user that nobody holds is replaced silently.
if ! chown 12345 a.err 2>/dev/null; then
  echo "skipped: planted files: making another user's file needs root"
  finish
fi
fresh_shm 1m
printf "%259s" x >$name && chown 12345:12345 $name && chmod 600 $name
setpriv --reuid 12345 --regid 12345 --clear-groups flock --no-fork -x $name sleep 30 >/dev/null 2>&1 &
holder=$!
for _ in $(seq 100); do flock -n $name true || break; sleep 0.05; done  # until the holder has it
begin=$SECONDS
host record d.bvh --seconds 1 --rate 20
expect_exit 0 "another user's file"
[ $((SECONDS - begin)) -lt 5 ] || fail "another user's file held the recording up for $((SECONDS - begin)) s"
said "owned by another user"
kill $holder
rm -f $name
ln -s "$PWD/victim" $name
host record e.bvh --seconds 0.5 --rate 20
expect_exit 0 "a symbolic link"
said "a symbolic link"
[ -e victim ] && fail "the symbolic link was followed"
rm -f $name
printf "%259s" x >$name && chmod 600 $name
host record f.bvh --seconds 0.5 --rate 20
expect_exit 0 "a leftover of this user"
grep "Named mutex" err.txt && fail "a leftover of this user was not replaced"
expect_shm_empty "planted files"

finish
