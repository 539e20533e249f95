#!/usr/bin/env bash
# kestrion-host's answers to bad command lines, a missing or wrong plug-in,
# missing suits and existing files: a one-line error and the exit code.
# Arguments: the program, then the libraries with a wrong type name and a
# wrong type GUID.
source "$(dirname "$0")/lib.sh"

# Help on every command, exit 0.
for command in "" info stream record; do
  host $command --help
  expect_exit 0 "$command --help"
  expect_in out.txt "Usage: kestrion-host" "$command --help"
done
expect_in out.txt "--force" "record --help"
expect_in out.txt "--set-north" "record --help"

# Bad arguments: exit 2 before anything starts.
host stream --bogus
expect_one_line_error 2 "not expected: --bogus" "unknown option"
host --bogus info
expect_one_line_error 2 "not expected: --bogus" "unknown option before the command"
host
expect_one_line_error 2 "a command is needed" "no command"
host dance
expect_one_line_error 2 "not expected: dance" "unknown command"
host stream --rate 0
expect_one_line_error 2 "--rate: must be a number greater than 0" "rate 0"
host record x.bvh --rate 1001
expect_one_line_error 2 "--rate: must be a number greater than 0 and at most 1000" "rate too high"
host record x.bvh --seconds -1
expect_one_line_error 2 "--seconds: must be a number greater than 0" "negative duration"
host stream --seconds abc
expect_one_line_error 2 "--seconds: .*'abc'" "duration not a number"
host stream --suits 0,x
expect_one_line_error 2 "--suits: suit indices are whole numbers" "suit not a number"
host stream --suits 1,1
expect_one_line_error 2 "suit 1 is listed twice" "suit listed twice"
host stream --suits 0,,1 --seconds 0.5
expect_one_line_error 2 "--suits: suit indices are whole numbers.*'0,,1'" "empty suit item"
host stream --rate 0x28 --seconds 0.5
expect_one_line_error 2 "--rate: must be a number.*'0x28'" "hex rate"
host record tiny.bvh --rate 1e-300
expect_one_line_error 2 "--rate 1e-300 and --seconds 5 make less than one frame" "rate below one frame"
host stream --jumping yes
expect_one_line_error 2 "--jumping: must be on or off" "jumping yes"
host record walk.txt
expect_one_line_error 2 "ends in .bvh or .csv" "unknown recording format"
host record
expect_one_line_error 2 "FILE is required" "record without a file"
grep -q '^plug-in: ' err.txt && fail "the suits started for a bad command line"
# The Windows program has no OSC (no liblo there) and says so.
if [[ $program == *.exe ]]; then
  host stream --help
  expect_in out.txt "Linux only" "stream --help on Windows"
  host stream --osc 127.0.0.1:39539
  expect_one_line_error 2 "--osc: OSC streaming is Linux only" "--osc on Windows"
fi

# A suit that does not exist is known only once the driver runs: exit 2,
# after the channel was reset.
host stream --suits 0,5 --seconds 1
expect_one_line_error 2 "suit 5 does not exist: the suit library found 2 suits" "suit 5 of 2"
[ "$(tail -1 err.txt)" = "$(own_errors)" ] || fail "suit 5 of 2: the error is not the last line"
expect_in err.txt "plug-in: Stopped Kestrion driver" "suit 5 of 2: channel reset"
KESTRION_SIM_SUITS=3 host record three.bvh --suits 3
expect_one_line_error 2 "suit 3 does not exist: the suit library found 3 suits" "suit 3 of 3"
expect_no_files "suit 3 of 3"

# The plug-in: missing, or a library that is not it.
host --plugin "$work/NoSuchPlugin.dll" info
expect_one_line_error 1 "cannot load the plug-in" "missing plug-in"
host --plugin "$work/NoSuchPlugin.dll" stream --seconds 1
expect_one_line_error 1 "cannot load the plug-in" "missing plug-in for stream"
tessarel=$(ls "$program_dir" | grep -E '^(lib)?Tessarel\.(so|dll)$')
host --plugin "$program_dir/$tessarel" info
expect_one_line_error 1 "is not a suit plug-in: it does not export GetType, InitDLL" "library without entry points"
# Every entry point and member, but another channel type.
host --plugin "${2:?wrong-name library}" info
expect_one_line_error 1 "is not the suit plug-in: its channel type is not named KestrionUnique" "wrong type name"
host --plugin "${3:?wrong-GUID library}" record walk.bvh
expect_one_line_error 1 "is not the suit plug-in: its channel type has another GUID" "wrong type GUID"

# A plain name is the file in this folder, not one on the loader's search
# path: here the wrong-name library under the plug-in's own name.
plugin_file=$(ls "$program_dir" | grep -E '^(lib)?KestrionUnique\.(so|dll)$')
cp "$2" "$plugin_file"
host --plugin "$plugin_file" info
expect_one_line_error 1 "is not the suit plug-in: its channel type is not named" "plug-in by a plain name"
rm -f "$plugin_file"
# A plug-in cut short is refused before the loader touches its missing parts.
for size in 100 4000 60000; do
  head -c $size "$program_dir/$plugin_file" >cut.so
  host --plugin ./cut.so info
  expect_one_line_error 1 "cannot load the plug-in ./cut.so: " "plug-in cut to $size bytes"
done
rm -f cut.so

# No suits, or a suit that never opens.
KESTRION_SIM_SUITS=0 host stream --seconds 1
expect_one_line_error 1 "no suits found" "no suits"
expect_in err.txt "plug-in: Kestrion: No suits found" "no suits"
KESTRION_SIM_INIT=fail host record none.bvh
expect_one_line_error 1 "no suits found" "suit library fails to start"
expect_in err.txt "plug-in: Kestrion: Unable to initialize" "suit library fails to start"
KESTRION_SIM_NO_OPEN=1 host record closed.csv --seconds 1
expect_one_line_error 1 "suit 1 sends no frames" "suit that never opens"
expect_no_files "failed recordings"

# The simulated suits' settings, when they are bad: the suit library says
# which one and does not start, the program says no suit was found.
KESTRION_SIM_SUITS=two host record bad.bvh
expect_one_line_error 1 "no suits found" "suit count not a number"
expect_in err.txt "Kestrion simulator: KESTRION_SIM_SUITS must be a whole number from -1024 to 1024, not 'two'" \
  "suit count not a number"
KESTRION_SIM_SUITS=5000 host stream --seconds 1
expect_one_line_error 1 "no suits found" "suit count too large"
expect_in err.txt "not '5000'" "suit count too large"
KESTRION_SIM_INIT=maybe host record bad.csv
expect_one_line_error 1 "no suits found" "init setting"
expect_in err.txt "KESTRION_SIM_INIT must be 'ok' or 'fail', not 'maybe'" "init setting"
KESTRION_SIM_NO_OPEN=1,,2 host record bad.bvh
expect_one_line_error 1 "no suits found" "suits that do not open"
expect_in err.txt "KESTRION_SIM_NO_OPEN must list suit indices" "suits that do not open"
expect_no_files "bad suit settings"

# An existing file is kept unless --force.
echo "keep me" >walk.csv
host record walk.csv --seconds 0.2
expect_one_line_error 1 "walk.csv exists; add --force to overwrite it" "existing CSV file"
[ "$(cat walk.csv)" = "keep me" ] || fail "walk.csv was changed without --force"
grep -q '^plug-in: ' err.txt && fail "the suits started to record onto an existing file"
echo "keep me" >walk-suit1.bvh
host record walk.bvh --seconds 0.2
expect_one_line_error 1 "walk-suit1.bvh exists; add --force" "existing file of the second suit"
[ "$(cat walk-suit1.bvh)" = "keep me" ] || fail "walk-suit1.bvh was changed without --force"
[ -e walk-suit0.bvh ] && fail "walk-suit0.bvh written although walk-suit1.bvh was refused"
host record walk.bvh --seconds 0.2 --force
expect_exit 0 "record --force"
check_bvh walk-suit1.bvh 40 8 >&2 || fail "--force did not replace walk-suit1.bvh with a recording"
host record walk.csv --seconds 0.2 --force
expect_exit 0 "record CSV --force"
[ "$(head -c 6 walk.csv)" = "frame," ] || fail "--force did not replace walk.csv"

# A folder that does not exist, a path through a file, a name too long: the
# real reason, before the suits start.
host record no/such/dir/walk.csv --seconds 0.2
expect_one_line_error 1 "cannot write no/such/dir/walk.csv" "missing folder"
touch plain
host record plain/walk.csv --seconds 0.2
expect_one_line_error 1 "cannot write plain/walk.csv: " "path through a file"
long=$(printf 'n%.0s' $(seq 300)).csv
host record "$long" --seconds 0.2
expect_one_line_error 1 "cannot write n+\.csv: " "name too long"
grep -q '^plug-in: ' err.txt && fail "the suits started for a name that cannot be written"
rm -f plain
if linux_only "a Windows path holds 260 characters in all"; then
  name250=$(printf 'w%.0s' $(seq 246)).csv
  host record "$name250" --suits 0 --seconds 0.2
  expect_exit 0 "a 250-byte name"
  [ -f "$name250" ] || fail "a 250-byte name: not written"
  rm -f "$name250"
fi

# What is under a name is examined, never opened or followed: a FIFO does not
# block, a dangling link counts as there. Temporary files are made anew: a
# link planted under the name a run would once have used leads nowhere.
if linux_only "FIFOs, and links that Windows programs see as plain files"; then
  mkfifo fifo.bvh
  host_within 30 record fifo.bvh --suits 0 --seconds 0.2
  expect_one_line_error 1 "fifo.bvh exists; add --force" "FIFO under the name"
  ln -s nowhere dangling.csv
  host_within 30 record dangling.csv --seconds 2
  expect_one_line_error 1 "dangling.csv exists; add --force" "dangling link under the name"
  echo "keep me" >victim
  bash -c 'ln -s victim planted.bvh.$$.part; exec "$@" >out.txt 2>err.txt' sh "$program" record planted.bvh --suits 0 \
    --seconds 0.2
  status=$?
  expect_exit 0 "link planted under a temporary name"
  [ "$(cat victim)" = "keep me" ] || fail "a planted link led the recording into another file"
  [ -L planted.bvh ] && fail "planted.bvh is a link to another file"
  check_bvh planted.bvh 40 8 >&2 || fail "planted.bvh is not the recording"
  rm -f fifo.bvh dangling.csv victim planted.bvh planted.bvh.*.part
fi

# The Windows build has no view, and says so.
if [ ${#runner[@]} -gt 0 ]; then
  host --help
  expect_in out.txt "view                        Linux only" "--help on Windows"
  host view
  expect_one_line_error 2 "the view is Linux only" "view on Windows"
fi

rm -f walk.csv walk-suit0.bvh walk-suit1.bvh
expect_no_files "error cases"
finish
