#!/usr/bin/env bash
# The file in /dev/shm behind "KestrionMutex" (Linux): a closed standard
# output, a full /dev/shm, and files planted under the name never crash,
# block or corrupt a recording. Each case runs in a /dev/shm of its own.
source "$(dirname "$0")/lib.sh"
export program
name=kx-mutex.$(id -u).KestrionMutex
export name

# in_private_shm SIZE SCRIPT: runs SCRIPT with a /dev/shm of SIZE of its own;
# exit code 77 when this machine allows no private mount namespace.
in_private_shm() {
  local how
  for how in "unshare --mount --propagation private" \
             "unshare --user --map-root-user --mount --propagation private"; do
    if $how true 2>/dev/null; then
      $how bash -c "mount -t tmpfs -o size=$1,mode=1777 kx /dev/shm || exit 77
$2"
      return
    fi
  done
  return 77
}

skip() { echo "skipped: $*"; }

# A recording with standard output closed, beside a normal one: the mutex
# file is never the program's output, and both recordings are whole.
in_private_shm 1m '
"$program" record a.bvh --seconds 2 --rate 20 >&- 2>a.err & first=$!
"$program" record b.bvh --seconds 2 --rate 20 >b.out 2>b.err; second=$?
wait $first; echo "$? $second" >codes
ls -A /dev/shm >shm.txt'
if [ $? -eq 77 ]; then
  skip "closed standard output: no private mount namespace here"
else
  [ "$(cat codes)" = "0 0" ] || fail "closed stdout: exit codes $(cat codes), expected 0 0"
  for f in a-suit0.bvh a-suit1.bvh b-suit0.bvh b-suit1.bvh; do
    [ -f "$f" ] && { check_bvh "$f" 20 40 >&2 || fail "closed stdout: $f is not whole"; } || fail "closed stdout: $f missing"
  done
  [ -s shm.txt ] && fail "closed stdout: left in /dev/shm: $(cat shm.txt)"
  grep -q "Named mutex" a.err b.err && fail "closed stdout: the mutex was not shared: $(cat a.err b.err)"
fi
rm -f ./*.bvh ./*.err b.out codes shm.txt

# A full /dev/shm: the mutex stays within the process, with one message.
in_private_shm 8k '
dd if=/dev/zero of=/dev/shm/fill bs=4096 count=4 2>/dev/null
"$program" record c.bvh --seconds 1 --rate 20 >c.out 2>c.err; echo $? >codes'
if [ $? -eq 77 ]; then
  skip "full /dev/shm: no private mount namespace here"
else
  [ "$(cat codes)" = "0" ] || fail "full /dev/shm: exit code $(cat codes); $(cat c.err)"
  [ -f c-suit0.bvh ] && { check_bvh c-suit0.bvh 20 20 >&2 || fail "full /dev/shm: c-suit0.bvh is not whole"; }
  [ "$(grep -c "^Named mutex \"KestrionMutex\" is shared within this process only: .* no room" c.err)" = 1 ] ||
    fail "full /dev/shm: expected one message, got: $(cat c.err)"
fi
rm -f ./*.bvh c.out c.err codes

# Files planted under the name. Another user's file, held locked by that
# user, and a symbolic link are refused with a message, and hold nothing
# up; a leftover of this user that nobody holds is replaced silently.
touch owner-probe
chown 12345 owner-probe 2>/dev/null; owned=$?
rm -f owner-probe
if [ "$owned" -ne 0 ]; then
  skip "planted files: making another user's file needs root"
else
  in_private_shm 1m '
printf "%259s" x >/dev/shm/$name; chown 12345:12345 /dev/shm/$name; chmod 600 /dev/shm/$name
setpriv --reuid 12345 --regid 12345 --clear-groups flock --no-fork -x /dev/shm/$name sleep 30 >/dev/null 2>&1 & holder=$!
sleep 0.2
start=$(date +%s%N)
"$program" record d.bvh --seconds 1 --rate 20 >d.out 2>d.err; echo $? >codes
echo $(( ($(date +%s%N) - start) / 1000000 )) >ms
kill $holder
rm -f /dev/shm/$name
ln -s "$PWD/victim" /dev/shm/$name
"$program" record e.bvh --seconds 0.5 --rate 20 >e.out 2>e.err; echo $? >>codes
rm -f /dev/shm/$name
printf "%259s" x >/dev/shm/$name; chmod 600 /dev/shm/$name
"$program" record f.bvh --seconds 0.5 --rate 20 >f.out 2>f.err; echo $? >>codes
ls -A /dev/shm >shm.txt'
  [ "$(paste -sd' ' codes)" = "0 0 0" ] || fail "planted files: exit codes $(paste -sd' ' codes)"
  [ "$(cat ms)" -lt 5000 ] || fail "another user's file held the recording up for $(cat ms) ms"
  grep -q '^Named mutex "KestrionMutex" is shared within this process only: .* owned by another user$' d.err ||
    fail "another user's file: $(cat d.err)"
  grep -q '^Named mutex "KestrionMutex" is shared within this process only: .* a symbolic link$' e.err ||
    fail "symbolic link: $(cat e.err)"
  [ -e victim ] && fail "the symbolic link was followed"
  grep -q "Named mutex" f.err && fail "a leftover of this user was not replaced: $(cat f.err)"
  [ -s shm.txt ] && fail "planted files: left in /dev/shm: $(cat shm.txt)"
  rm -f ./*.bvh ./*.out ./*.err codes ms shm.txt victim
fi

finish
