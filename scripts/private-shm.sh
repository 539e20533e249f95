# Sourced at the start of a command that runs many drivers (the tests, the
# reliability runs): runs the rest of the command again with a /dev/shm of
# its own. "KestrionMutex" is one lock for every process of a user, so a
# test run would otherwise hold up a recording the user makes meanwhile,
# for up to half a second at a time, and the recording the tests.
if [ -z "${KX_PRIVATE_SHM:-}" ]; then
  export KX_PRIVATE_SHM=1
  for how in "unshare --mount --propagation private" \
             "unshare --user --map-root-user --mount --propagation private"; do
    if $how true 2>/dev/null; then
      exec $how bash -c 'mount -t tmpfs -o mode=1777 kx-private /dev/shm && exec bash "$0" "$@"' "$0" "$@"
    fi
  done
  echo "note: no private /dev/shm on this machine; these runs share \"KestrionMutex\" with the user's other programs" >&2
fi
