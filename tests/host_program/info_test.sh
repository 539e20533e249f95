#!/usr/bin/env bash
# kestrion-host info: the channel type record, the declared dependencies and
# the command catalogue, as the plug-in gives them.
source "$(dirname "$0")/lib.sh"

host info
expect_exit 0 "info"
expect_in out.txt "  name        KestrionUnique" "info: type name"
expect_in out.txt "  type GUID   {17C29F10-F50A-4E53-B293-EC4427BFE716}" "info: type GUID"
expect_in out.txt "  class GUID  {17C29F10-F50A-4E53-B293-EC4427BFE716}" "info: class GUID"
expect_in out.txt "device channel 1 (at 120), user creatable 1 (at 124), options 0x00000000 (at 128)" "info: flags"

deps=$(sed -n '/^dependencies$/,/^commands$/p' out.txt | sed '1d;$d' | tr -d ' ' | paste -sd' ')
[ "$deps" = "Kestrion.dll Quorbit.dll isense.dll" ] || fail "info: dependencies '$deps'"

ids=$(sed -n '/^commands$/,$p' out.txt | grep -E '^  [0-9]+  ' | awk '{print $1}' | paste -sd' ')
[ "$ids" = "1 2 4 3 5 6 7 8 9" ] || fail "info: command ids '$ids'"
for name in "1  Connect to suit" "2  Disconnect from suit" "4  Get number of suits" "3  Get data" \
  "5  Set to NULL position" "6  Enable uneven terrain" "7  Enable jumping" "8  Set borth" "9  Reset"; do
  expect_in out.txt "  $name" "info: command"
done
# "Get data" describes its twenty children, one line each.
children=$(sed -n '/^  3  Get data$/,/^  5 /p' out.txt | grep -c '^       <Child #')
[ "$children" -eq 20 ] || fail "info: Get data has $children child lines, expected 20"
expect_in out.txt "       <Child #20> Vector to store Head rotation" "info: last child of Get data"
expect_in out.txt "       Drops all connections and resets the driver" "info: Reset's description"
[ -s err.txt ] && fail "info writes to standard error: $(cat err.txt)"

# The plug-in named explicitly gives the same.
cp out.txt default.txt
host --plugin "$program_dir/$(basename "$(ls "$program_dir" | grep -E '^(lib)?KestrionUnique\.(so|dll)$')")" info
expect_exit 0 "info --plugin"
diff <(tail -n +2 default.txt) <(tail -n +2 out.txt) >/dev/null || fail "info --plugin differs from the default"
rm -f default.txt

finish
