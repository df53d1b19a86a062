# Timing helpers of the bench scripts (sourced): medians of $runs runs, in seconds.
now() { date +%s.%N; }
calc() { awk "BEGIN { print $* }"; }
median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }

# seconds for one run of the command, median of $runs; output to /dev/null
time_cmd() {
  for _ in $(seq "$runs"); do
    local t0 t1
    t0=$(now)
    "$@" >/dev/null 2>&1 || true
    t1=$(now)
    calc "$t1 - $t0"
  done | median
}
