#!/usr/bin/env bash
# kestrion-host stream for a set time, output not a terminal: the plug-in's
# messages as they come, plain lines once a second, a clean end.
source "$(dirname "$0")/lib.sh"

KESTRION_SIM_SUITS=3 host stream --suits 2,0 --seconds 2.5 --rate 20 --jumping on --set-null
expect_exit 0 "stream"
expect_in out.txt "Streaming suits 2 and 0 at 20 Hz for 2.5 s" "stream"
expect_in out.txt "Stream ended" "stream"
# Lines at 0, 1 and 2 seconds, for each suit in the order asked.
order=$(grep -E '^[0-9]+\.[0-9]+ s  suit ' out.txt | awk '{print $1 ":" $4}' | paste -sd' ')
[ "$order" = "0.00:2 0.00:0 1.00:2 1.00:0 2.00:2 2.00:0" ] || fail "stream lines: $order"
grep -qE '^1\.00 s  suit 0  position -?[0-9.]+ -?[0-9.]+ -?[0-9.]+ cm  heading' out.txt ||
  fail "stream: no position line"
# The plug-in's messages: the channel reset at the end.
[ "$(grep '^plug-in: ' err.txt | paste -sd'|')" = "plug-in: Searching for suits|plug-in: Found: 3 suits|plug-in: Started Kestrion driver|\
plug-in: Stopped Kestrion driver" ] || fail "stream: messages $(cat err.txt)"
expect_no_files "stream"

finish
