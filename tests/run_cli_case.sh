#!/usr/bin/env bash
# Runs one black-box case: tests/cli/<case>.sh, then compares its output with <case>.stdout,
# <case>.stderr and <case>.exit (a missing file means empty output or status 0).
# The executable runs from a private copy, with its own charsets/, HOME and working directory,
# so every data file a case relies on is under the case's control.
# BUILD (the build tree) and CMAKE (its cmake) let a case install the build.
# With DORVEX_WINE set, DORVEX is the Windows program, which runs under that Wine.
# Usage: run_cli_case.sh DORVEX CASE.sh SOURCE_DIR MKFIXTURE [BUILD_DIR CMAKE]
set -u
exe=$1 case=$2 src=$3 mkfixture=$4 build=${5:-} cmake=${6:-cmake}
base=${case%.sh}
work=$(mktemp -d "${TMPDIR:-/tmp}/dorvex-cli-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/bin" "$work/home" "$work/run"
if [ -n "${DORVEX_WINE:-}" ]; then
  # The Windows program: dorvex.exe beside its charsets, run under Wine by a script that has the
  # usual name and turns its CR LF line ends into LF, as the shared expected files have them;
  # dorvex-crlf runs it with its own line ends, for the cases that check them.
  cp "$exe" "$work/bin/dorvex.exe"
  printf '#!/bin/sh\nexec "%s" "${0%%/*}/dorvex.exe" "$@"\n' "$src/tools/wine-run-lf" >"$work/bin/dorvex"
  printf '#!/bin/sh\nexec "%s" "${0%%/*}/dorvex.exe" "$@"\n' "$src/tools/wine-run" >"$work/bin/dorvex-crlf"
  chmod +x "$work/bin/dorvex" "$work/bin/dorvex-crlf"
  export DORVEX_CRLF="$work/bin/dorvex-crlf"
else
  cp "$exe" "$work/bin/dorvex"
fi
cp -r "$src/charsets" "$work/bin/charsets"
export HOME="$work/home" DORVEX="$work/bin/dorvex" BIN="$work/bin" DATA="$src/tests/data"
export MKFIXTURE="$mkfixture" WORK="$work" BUILD="$build" CMAKE="$cmake" LC_ALL=C
cd "$work/run" || exit 1
bash "$case" >"$work/stdout" 2>"$work/stderr" </dev/null
status=$?
# Temporary paths differ from run to run; the expected files write them as @WORK@.
for s in stdout stderr; do
  sed -i "s|$work|@WORK@|g" "$work/$s"
done
# The Windows program names the same paths the Windows way (Z:\tmp\...\bin\dorvex.rc): they
# are compared written the POSIX way.
if [ -n "${DORVEX_WINE:-}" ]; then
  export DORVEX_WORK_WINDOWS="Z:${work//\//\\}"
  for s in stdout stderr; do
    perl -i -pe 's{\Q$ENV{DORVEX_WORK_WINDOWS}\E}{\@WORK\@}g;
                 s{\@WORK\@([^\s:(\x27"]*)}{"\@WORK\@" . ($1 =~ tr|\\|/|r)}ge' "$work/$s"
  done
fi
fail=0
check() {  # actual expected-file
  local expected=/dev/null
  [ -f "$2" ] && expected=$2
  if ! cmp -s "$1" "$expected"; then
    echo "--- $(basename "$2") differs:"
    diff <(od -c "$expected") <(od -c "$1") | head -40
    fail=1
  fi
}
# Where the Windows program rightly says something else, tests/windows/expected has its words.
expected_base=$base
if [ -n "${DORVEX_WINE:-}" ]; then
  windows_base=$src/tests/windows/expected/$(basename "$base")
  for s in stdout stderr exit; do
    [ -f "$windows_base.$s" ] && expected_base=$windows_base
  done
fi
check "$work/stdout" "$expected_base.stdout"
check "$work/stderr" "$expected_base.stderr"
want=0
[ -f "$expected_base.exit" ] && want=$(cat "$expected_base.exit")
if [ "$status" != "$want" ]; then
  echo "--- exit status $status, expected $want"
  fail=1
fi
exit $fail
