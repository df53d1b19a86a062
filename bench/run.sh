#!/usr/bin/env bash
# Throughput of dorvex next to cat, median of runs, output to /dev/null.
# Usage: bench/run.sh [runs]   (environment: BENCH_DIR for the inputs, default /tmp/dorvex-bench;
# DORVEX_EXE for the program to time, default build/release/dorvex)
set -euo pipefail
cd "$(dirname "$0")/.."
export LC_ALL=C  # the default target charset follows the locale: keep it cp866
runs=${1:-5}
dir=${BENCH_DIR:-/tmp/dorvex-bench}
mkdir -p "$dir"

# The Word inputs are made by the test-fixture generator, which is built with the tests.
cmake --preset release -DDORVEX_TESTS=ON >/dev/null
cmake --build --preset release --target dorvex bench_inputs mkfixture >/dev/null
exe=${DORVEX_EXE:-build/release/dorvex}  # another build to compare with, beside its charsets/
gen=build/release/bench/bench_inputs
mkfixture=build/release/tests/mkfixture

make_input() {  # name command...
  local name=$1
  shift
  [ -s "$dir/$name" ] || "$@"
}
make_input text8.txt "$gen" text8 "$dir/text8.txt" 100
make_input utf8.txt "$gen" utf8 "$dir/utf8.txt" 100
make_input word8.bin "$gen" wordtext8 "$dir/word8.bin" 100
make_input word16.bin "$gen" wordtext16 "$dir/word16.bin" 100
make_input tiny.txt sh -c "printf 'A tiny file.\n' > '$dir/tiny.txt'"
make_input doctext8.txt "$gen" wordtext8 "$dir/doctext8.txt" 50
if [ -x "$mkfixture" ]; then
  make_input word97-8.doc "$mkfixture" word97 "$dir/word97-8.doc" "$dir/doctext8.txt" || true
  make_input word97-16.doc "$mkfixture" word97 "$dir/word97-16.doc" "$dir/doctext8.txt" --16bit || true
fi
[ -f bench/gen_rtf.py ] && make_input big.rtf python3 bench/gen_rtf.py 100 "$dir/big.rtf"
# About 36 MB of XML each, as LibreOffice writes for the 20 MB text.
make_input big.docx /usr/bin/python3 tools/mkxdoc.py bigdocx "$dir/big.docx" 90000
make_input big.odt /usr/bin/python3 tools/mkxdoc.py bigodt "$dir/big.odt" 200000

# shellcheck source=bench/timing.sh
. bench/timing.sh

report() {  # label input command...
  local label=$1 input=$2
  shift 2
  [ -f "$input" ] || { printf '%-34s (no input)\n' "$label"; return; }
  local bytes mb t tc
  bytes=$(stat -c %s "$input")
  mb=$(calc "$bytes / 1048576")
  t=$(time_cmd "$@" "$input")
  tc=$(time_cmd cat "$input")
  printf '%-40s %7.1f MB/s  %6.1fx cat  (%.0f ms, cat %.1f ms, %.0f MB)\n' "$label" \
    "$(calc "$mb / $t")" "$(calc "$t / $tc")" "$(calc "$t * 1000")" "$(calc "$tc * 1000")" "$mb"
}

echo "median of $runs runs, output to /dev/null"
report "plain 8-bit copy (cp1251->cp866)" "$dir/text8.txt" "$exe"
report "plain 8-bit copy (to utf-8)" "$dir/text8.txt" "$exe" -d utf-8
report "-u copy of UTF-8 text" "$dir/utf8.txt" "$exe" -u -d utf-8
report "-b raw Word text, 8-bit" "$dir/word8.bin" "$exe" -b
report "-b -u raw Word text, 16-bit" "$dir/word16.bin" "$exe" -b -u
report "Word 97 document, 8-bit" "$dir/word97-8.doc" "$exe"
report "Word 97 document, 8-bit, -d utf-8 -w" "$dir/word97-8.doc" "$exe" -d utf-8 -w
report "Word 97 document, 16-bit" "$dir/word97-16.doc" "$exe"
report "Word 97 document, 16-bit, -d utf-8 -w" "$dir/word97-16.doc" "$exe" -d utf-8 -w
if [ -f "$dir/word97-8.doc" ]; then
  t=$(time_cmd sh -c "cat '$dir/word97-8.doc' | '$exe'")
  mb=$(calc "$(stat -c %s "$dir/word97-8.doc") / 1048576")
  printf '%-34s %7.1f MB/s\n' "Word 97 document from a pipe" "$(calc "$mb / $t")"
fi
report "RTF document, -d utf-8" "$dir/big.rtf" "$exe" -d utf-8
report "RTF document, -d utf-8 -w" "$dir/big.rtf" "$exe" -d utf-8 -w
# The packages next to their inflation alone (unzip -p of the same file), and next to the
# plain-text converter of their kind where it is installed (Debian: docx2txt; odt2txt is too
# slow on these for more than one run).
for pkg in big.docx big.odt; do
  [ -f "$dir/$pkg" ] && command -v unzip >/dev/null || continue
  t=$(time_cmd "$exe" -d utf-8 -w "$dir/$pkg")
  tu=$(time_cmd unzip -p "$dir/$pkg")
  printf '%-40s %6.0f ms  %6.1fx unzip -p (%.0f ms)' "$pkg, -d utf-8 -w" "$(calc "$t * 1000")" \
    "$(calc "$t / $tu")" "$(calc "$tu * 1000")"
  if [ "$pkg" = big.docx ] && command -v docx2txt >/dev/null; then
    tp=$(time_cmd docx2txt "$dir/$pkg" -)
    printf '  docx2txt %.0f ms, %.1fx ours' "$(calc "$tp * 1000")" "$(calc "$tp / $t")"
  fi
  printf '\n'
done

# Peak memory on the largest input.
if [ -x /usr/bin/time ] && [ -f "$dir/big.rtf" ]; then
  rss=$(/usr/bin/time -f %M "$exe" -d utf-8 -w "$dir/big.rtf" 2>&1 >/dev/null | tail -1)
  printf '%-40s %7s KiB\n' "peak RSS, RTF document" "$rss"
fi

# Start-up with both charsets and both maps loaded, on a tiny file.
if command -v hyperfine >/dev/null 2>&1; then
  # hyperfine starts the program itself, so no shell start-up is counted.
  hyperfine -N --warmup 5 --runs 100 --export-csv "$dir/tiny.csv" "$exe $dir/tiny.txt" >/dev/null
  t=$(awk -F, 'NR == 2 { print $4 }' "$dir/tiny.csv")
else
  t=$(time_cmd "$exe" "$dir/tiny.txt")
fi
printf '%-34s %7.2f ms\n' "tiny file, one run (median)" "$(calc "$t * 1000")"
n=200
t0=$(now)
for _ in $(seq $n); do "$exe" "$dir/tiny.txt" >/dev/null; done
t1=$(now)
printf '%-34s %7.0f files/s\n' "tiny files, one process each" "$(calc "$n / ($t1 - $t0)")"
