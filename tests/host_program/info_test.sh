#!/usr/bin/env bash
# kestrion-host info: the channel type record, the declared dependencies and
# the command catalogue, as the plug-in gives them, against the one golden
# copy (info.golden; the first line, the library's path, aside).
source "$(dirname "$0")/lib.sh"
golden=$tests_dir/info.golden

host info
expect_exit 0 "info"
diff -u "$golden" <(tail -n +2 out.txt) >&2 || fail "info differs from $golden"
[ -s err.txt ] && fail "info writes to standard error: $(cat err.txt)"

finish
