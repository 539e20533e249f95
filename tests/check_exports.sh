#!/usr/bin/env bash
# Checks what the plug-in library exports: the two C entry points under their
# plain names, the seven exported classes with their members, and nothing
# else.
#   check_exports.sh nm LIBRARY.so       (Linux, dynamic symbol table)
#   check_exports.sh objdump LIBRARY.dll (Windows, export table; objdump is
#                                         the cross toolchain's)
set -euo pipefail
kind=$1
library=$2
objdump=${3:-objdump}

case "$kind" in
  nm) raw=$(nm -D --defined-only "$library" | awk '{print $3}') ;;
  objdump) raw=$("$objdump" -p "$library" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | awk 'NR>1 && NF {print $NF}') ;;
  *) echo "usage: $0 nm|objdump LIBRARY [OBJDUMP]" >&2; exit 2 ;;
esac
names=$(c++filt <<<"$raw")

# Lists are searched as here-strings, never piped: under pipefail a grep -q
# that stops at its first match can fail its writer with SIGPIPE.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

classes='KestrionUnique|KestrionCmdType|KestrionThread|Orv_Thread|Orv_Mutex|Orv_AutoMutex|Matrix'
# MinGW also exports its own copy of the host base class's typeinfo.
unexpected=$(grep -vE "^(GetType|InitDLL)$" <<<"$names" \
  | grep -vE "^(($classes)::|(typeinfo|typeinfo name|vtable) for ($classes)$)" \
  | grep -vE "^typeinfo for Orv_Channel$" || true)
[ -z "$unexpected" ] || fail "exported beyond the interface:"$'\n'"$unexpected"

# The entry points and the channel's and catalogue's members are resolved by
# name where the plug-in is loaded (plugin_loading_test); the rest here.
required=(
  "KestrionUnique::KestrionUnique()"
  "KestrionUnique::DoDependencyInit(Orv_List*)"
  "KestrionThread::GetFrame(int, Frame&)"
  "KestrionThread::EnableJumping(int, bool)"
  "Orv_Thread::Loop()"
  "Orv_Mutex::Create(char const*)"
  "Orv_AutoMutex::Orv_AutoMutex(Orv_Mutex&)"
  "Matrix::Transpose()"
  "Matrix::operator*(Vector)"
)
for name in "${required[@]}"; do
  grep -qxF "$name" <<<"$names" || fail "missing export: $name"
done
grep -q "^KestrionUnique::EnableJumping" <<<"$names" && fail "the channel's jumping switch is spelled EnabelJumping"

count=$(grep -c . <<<"$names")
if [ "$failures" -eq 0 ]; then
  echo "export table of $(basename "$library"): $count symbols, GetType and InitDLL plus the seven classes"
fi
exit $((failures > 0))
