#!/usr/bin/env bash
# kestrion-host's answers to bad command lines, a missing or wrong plug-in,
# missing suits and existing files: a one-line error and the exit code.
source "$(dirname "$0")/lib.sh"

for command in "" info stream record; do
  host $command --help
  expect_exit 0 "$command --help"
  expect_in out.txt "Usage: kestrion-host" "$command --help"
done
expect_in out.txt "--force" "record --help"
expect_in out.txt "--set-north" "record --help"

# Each case: exit code, error pattern, and a line the plug-in or the suit
# library must also have written, or, when none is given, no sign that the
# suits started. The error is the last line; no file is left.
echo "keep me" | tee walk.csv walk-suit1.bvh >plain
long=$(printf 'n%.0s' $(seq 300)).csv
tessarel=$(ls "$program_dir" | grep -E '^(lib)?Tessarel\.(so|dll)$')
suits=${tessarel/Tessarel/Kestrion}
# The libraries the plug-in links to, beside its copies here, where they look.
cp "$program_dir/$tessarel" "$program_dir/$suits" .
# The plug-in itself, patched: its channel type renamed (a copy under its own
# name, here), or its GUID one bit off. Name and GUID may be data or operands
# of stores, hence short patterns; mangled names (14KestrionUnique) stay.
wrong_guid=wrong-guid.${plugin_file##*.}
perl -0777 -pe 's/(?<!14Kestrion)Unique\0/Unison\0/g or die' "$program_dir/$plugin_file" >"$plugin_file" &&
  perl -0777 -pe 's/\x10\x9F\xC2\x17/\x11\x9F\xC2\x17/g or die' "$program_dir/$plugin_file" >"$wrong_guid" ||
  fail "the plug-in's type name or GUID not found to patch"
while IFS='|' read -r code pattern also command; do
  eval "$command"
  expect_one_line_error "$code" "$pattern" "$command"
  [ "$(tail -1 err.txt)" = "$(own_errors)" ] || fail "$command: the error is not the last line"
  if [ -n "$also" ]; then expect_in err.txt "$also" "$command"
  elif grep -q '^plug-in: ' err.txt; then fail "$command: the suits started"; fi
  expect_no_files "$command" "walk.csv|walk-suit1.bvh|plain|$plugin_file|$wrong_guid|$tessarel|$suits"
done <<'EOF'
2|not expected: --bogus||host stream --bogus
2|not expected: --bogus||host --bogus info
2|a command is needed||host
2|not expected: dance||host dance
2|--rate: must be a number greater than 0||host stream --rate 0
2|--rate: must be a number greater than 0 and at most 1000||host record x.bvh --rate 1001
2|--seconds: must be a number greater than 0||host record x.bvh --seconds -1
2|--suits: suit indices are whole numbers||host stream --suits 0,x
2|suit 1 is listed twice||host stream --suits 1,1
2|--suits: suit indices are whole numbers.*'0,,1'||host stream --suits 0,,1 --seconds 0.5
2|--rate: must be a number.*'0x28'||host stream --rate 0x28 --seconds 0.5
2|--rate 1e-300 and --seconds 5 make less than one frame||host record tiny.bvh --rate 1e-300
2|--jumping: must be on or off||host stream --jumping yes
2|ends in .bvh or .csv||host record walk.txt
2|a recording needs a name before its ending: 'sub/.BVH'||host record sub/.BVH
2|FILE is required||host record
2|--osc: ||host stream --osc 127.0.0.1
2|--osc: ||host stream --osc 127.0.0.1:0
2|--osc: ||host stream --osc 127.0.0.1:65536
2|--osc: ||host stream --osc aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.invalid:39539
2|suit 5 does not exist: the suit library found 2 suits|plug-in: Stopped Kestrion driver|host stream --suits 0,5 --seconds 1
2|suit 3 does not exist: the suit library found 3 suits|plug-in: Stopped Kestrion driver|KESTRION_SIM_SUITS=3 host record three.bvh --suits 3
1|cannot load the plug-in||host --plugin "$work/NoSuchPlugin.dll" info
1|is not a suit plug-in: it does not export GetType, InitDLL||host --plugin "$program_dir/$tessarel" info
1|is not the suit plug-in: its channel type is not named KestrionUnique||host --plugin "$work/$plugin_file" info
1|is not the suit plug-in: its channel type has another GUID||host --plugin "$work/$wrong_guid" record walk.bvh
1|no suits found|plug-in: Kestrion: No suits found|KESTRION_SIM_SUITS=0 host stream --seconds 1
1|no suits found|plug-in: Kestrion: Unable to initialize|KESTRION_SIM_INIT=fail host record none.bvh
1|suit 1 sends no frames|plug-in: Stopped Kestrion driver|KESTRION_SIM_NO_OPEN=1 host record closed.csv --seconds 1
1|no suits found|Kestrion simulator: KESTRION_SIM_SUITS must be a whole number from -1024 to 1024, not 'two'|KESTRION_SIM_SUITS=two host record bad.bvh
1|no suits found|Kestrion simulator: KESTRION_SIM_READ_MS must be a whole number of milliseconds from 0 to 1000, not '3x'|KESTRION_SIM_READ_MS=3x host record bad.csv
1|no suits found|Kestrion simulator: KESTRION_SIM_INIT must be 'ok' or 'fail', not 'maybe'|KESTRION_SIM_INIT=maybe host record bad.csv
1|no suits found|Kestrion simulator: KESTRION_SIM_NO_OPEN must list suit indices from 0 to 1023 separated by commas, not '1,'|KESTRION_SIM_NO_OPEN=1, host record bad.csv
1|no suits found|Kestrion simulator: KESTRION_SIM_HANG must be SUIT:KIND:AFTER (KIND wait|KESTRION_SIM_HANG=1:wait:2:3 host record bad.csv
1|walk.csv exists; add --force to overwrite it||host record walk.csv --seconds 0.2
1|walk-suit1.bvh exists; add --force|plug-in: Stopped Kestrion driver|host record walk.bvh --seconds 0.2
1|cannot write no/such/dir/walk.csv||host record no/such/dir/walk.csv --seconds 0.2
1|cannot write plain/walk.csv: ||host record plain/walk.csv --seconds 0.2
1|cannot write n+\.csv: ||host record "$long" --seconds 0.2
EOF
[ "$(cat walk.csv walk-suit1.bvh)" = "keep me"$'\n'"keep me" ] || fail "existing files changed without --force"

# A plain name is the file in this folder, not one on the loader's search
# path: here the renamed copy under the plug-in's own name.
# A plug-in cut short is refused before the loader touches its missing parts.
expect_error 1 "is not the suit plug-in: its channel type is not named" --plugin "$plugin_file" info
# (Under a name of its own: Wine, finding no library in a file, loads one
# of the same name from the program's folder.)
for size in 100 4000 60000; do
  head -c $size "$program_dir/$plugin_file" >cut.so
  expect_error 1 "cannot load the plug-in ./cut.so: " --plugin ./cut.so info
done

host record walk.bvh --seconds 0.2 --force
expect_exit 0 "record --force"
check_bvh walk-suit1.bvh 40 8 >&2 || fail "--force did not replace walk-suit1.bvh with a recording"
rm -f walk.csv walk-suit[01].bvh plain "$plugin_file" "$wrong_guid" "$tessarel" "$suits" cut.so

if linux_only "a Windows path holds 260 characters; FIFOs and links are plain files there"; then
  name250=$(printf 'w%.0s' $(seq 246)).csv
  host record "$name250" --suits 0 --seconds 0.2
  expect_exit 0 "a 250-byte name"
  rm "$name250" || fail "a 250-byte name: not written"
  # What is under a name is examined, never opened or followed: a FIFO does
  # not block, a dangling link counts as there.
  mkfifo fifo.bvh
  ln -s nowhere dangling.csv
  expect_error 1 "fifo.bvh exists; add --force" record fifo.bvh --suits 0 --seconds 0.2
  expect_error 1 "dangling.csv exists; add --force" record dangling.csv --seconds 2
  # Nor is a plug-in that is not a plain file opened.
  expect_error 1 "cannot load the plug-in fifo.bvh: it is a FIFO" --plugin fifo.bvh info
  # One OSC destination, however it is written, is one.
  expect_error 2 "--osc: \[::ffff:127.0.0.1\]:39539 is given twice" stream --seconds 1 --osc 127.0.0.1:39539 \
    --osc "[::ffff:127.0.0.1]:39539"
  # Temporary files are made anew: a link planted under the name a run
  # would once have used leads nowhere.
  echo "keep me" >victim
  bash -c 'ln -s victim planted.bvh.$$.part; exec "$@" >out.txt 2>err.txt' sh "$program" record planted.bvh --suits 0 \
    --seconds 0.2
  status=$?
  expect_exit 0 "link planted under a temporary name"
  [ "$(cat victim)" = "keep me" ] || fail "a planted link led the recording into another file"
  check_bvh planted.bvh 40 8 >&2 || fail "planted.bvh is not the recording"
  rm -f fifo.bvh dangling.csv victim planted.bvh planted.bvh.*.part
else
  # No OSC (no liblo) and no view on Windows, and --help says so.
  host --help
  expect_in out.txt "view                        the view is Linux only" "--help on Windows"
  expect_error 2 "--osc: OSC streaming is Linux only" stream --osc 127.0.0.1:39539
  expect_error 2 "the view is Linux only" view
fi

expect_no_files "error cases"
finish
