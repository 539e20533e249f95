# Sourced by the commands that run Windows programs: decides which Windows
# builds run their tests here, from KX_WINDOWS_TESTS:
#   auto   (the default) the 32-bit build where this machine runs 32-bit
#          programs, the 64-bit build under 64-bit Wine where it does not
#   win32  the 32-bit build; fails where 32-bit programs cannot run
#   win64  the 64-bit build only, as if 32-bit programs could not run
#   both   both builds; fails where 32-bit programs cannot run
# Sets windows_tests (the builds whose tests run), windows_builds (those
# built: the shipped 32-bit tree always) and win32_not_run (why the 32-bit
# tests do not run; empty when they do). Returns non-zero on a request this
# machine cannot meet.

# Some kernels of our machines do not execute 32-bit programs at all, and
# neither does 32-bit Wine then. Only running one tells: a static i386
# program of 96 bytes that exits with 42 through the 32-bit system call, so
# it needs no package and no 32-bit library.
kx_probe_32bit() {
  local file status
  mkdir -p build
  file=$(mktemp build/probe-32bit.XXXXXX)
  printf '%b' \
    '\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00' \
    '\x02\x00\x03\x00\x01\x00\x00\x00\x54\x80\x04\x08\x34\x00\x00\x00' \
    '\x00\x00\x00\x00\x00\x00\x00\x00\x34\x00\x20\x00\x01\x00\x00\x00' \
    '\x00\x00\x00\x00' \
    '\x01\x00\x00\x00\x00\x00\x00\x00\x00\x80\x04\x08\x00\x80\x04\x08' \
    '\x60\x00\x00\x00\x60\x00\x00\x00\x05\x00\x00\x00\x00\x10\x00\x00' \
    '\xb8\x01\x00\x00\x00\xbb\x2a\x00\x00\x00\xcd\x80' >"$file"
  chmod +x "$file"
  status=0
  kx_probe_output=$("./$file" 2>&1) || status=$?
  rm -f "$file"
  if [ "$status" -eq 42 ]; then
    return 0
  fi
  kx_probe_output=$(tail -n 1 <<<"$kx_probe_output")
  kx_probe_output=${kx_probe_output##*: }
  [ -n "$kx_probe_output" ] || kx_probe_output="exit code $status"
  return 1
}

windows_tests=()
windows_builds=(win32)
win32_not_run=""
case "${KX_WINDOWS_TESTS:-auto}" in
  auto)
    if kx_probe_32bit; then
      windows_tests=(win32)
    else
      windows_tests=(win64)
      win32_not_run="this machine cannot run 32-bit programs (a 32-bit test program: $kx_probe_output)"
    fi
    ;;
  win64)
    windows_tests=(win64)
    win32_not_run="KX_WINDOWS_TESTS=win64 asks for the 64-bit build's tests only"
    ;;
  win32 | both)
    if ! kx_probe_32bit; then
      echo "KX_WINDOWS_TESTS=$KX_WINDOWS_TESTS: this machine cannot run 32-bit programs" \
           "(a 32-bit test program: $kx_probe_output); use auto or win64" >&2
      return 2
    fi
    windows_tests=(win32)
    [ "$KX_WINDOWS_TESTS" = win32 ] || windows_tests+=(win64)
    ;;
  *)
    echo "KX_WINDOWS_TESTS must be auto, win32, win64 or both, not '$KX_WINDOWS_TESTS'" >&2
    return 2
    ;;
esac
if [[ " ${windows_tests[*]} " == *" win64 "* ]]; then
  windows_builds+=(win64)
fi
