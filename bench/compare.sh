#!/usr/bin/env bash
# Output of every corpus file and bench input under several option sets, recorded once and
# compared after each change: a speed change must not change a byte.
# Usage: bench/compare.sh record|check [dorvex]
#   environment: CORPUS (default ../shared/corpus beside the project), BENCH_DIR (bench inputs,
#   default /tmp/dorvex-bench), COMPARE_DIR (recorded outputs, default /tmp/dorvex-compare)
set -uo pipefail
export LC_ALL=C  # the target charset follows the locale: fix it
cd "$(dirname "$0")/.."
mode=${1:?record or check}
exe=$(realpath "${2:-build/release/dorvex}")
corpus=${CORPUS:-$(realpath ../../shared/corpus 2>/dev/null || echo /work/shared/corpus)}
bench_dir=${BENCH_DIR:-/tmp/dorvex-bench}
store=${COMPARE_DIR:-/tmp/dorvex-compare}
option_sets=("" "-d utf-8" "-d utf-8 -w" "-x" "-m 40 -d koi8-r" "-u" "-8 -d utf-8" "-t")

inputs() {
  find "$corpus" -type f ! -name MANIFEST.tsv ! -name README.md ! -name LICENSE | sort
  for f in text8.txt utf8.txt word8.bin word16.bin word97-8.doc word97-16.doc big.rtf tiny.txt; do
    [ -f "$bench_dir/$f" ] && echo "$bench_dir/$f"
  done
}

# One line per input and option set: the checksum of stdout, then stderr, then the status.
run_all() {
  local opts f
  while IFS= read -r f; do
    for opts in "${option_sets[@]}"; do
      # shellcheck disable=SC2086  # the option sets split into words on purpose
      local out err
      out=$("$exe" $opts "$f" 2>/tmp/dorvex-compare-err.$$ | md5sum | cut -c1-32)
      local status=${PIPESTATUS[0]}
      err=$(sed "s|$corpus|CORPUS|g; s|$bench_dir|BENCH|g" /tmp/dorvex-compare-err.$$ | md5sum | cut -c1-32)
      printf '%s\t[%s]\t%s %s %s\n' "${f#"$corpus"/}" "$opts" "$out" "$err" "$status"
    done
  done < <(inputs)
  rm -f /tmp/dorvex-compare-err.$$
}

mkdir -p "$store"
case $mode in
  record)
    run_all >"$store/baseline.tsv"
    echo "recorded $(wc -l <"$store/baseline.tsv") outputs in $store/baseline.tsv"
    ;;
  check)
    run_all >"$store/current.tsv"
    if diff "$store/baseline.tsv" "$store/current.tsv" >"$store/diff.txt"; then
      echo "all $(wc -l <"$store/current.tsv") outputs unchanged"
    else
      echo "changed outputs (< baseline, > now):"
      cat "$store/diff.txt"
      exit 1
    fi
    ;;
  *) echo "usage: $0 record|check [dorvex]" >&2; exit 2 ;;
esac
