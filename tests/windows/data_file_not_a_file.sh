# A charset table, map or configuration file that is a directory, or larger than any real one,
# is refused with the message of an invalid file of its kind.
printf 'text\n' > in.txt
run() {  # label, options...
  local label=$1; shift
  printf '== %s\n' "$label"
  "$DORVEX" -d utf-8 "$@" in.txt; echo "status $?"
}
mkdir "$BIN/charsets/t.txt"
run "table is a directory" -s t
rmdir "$BIN/charsets/t.txt"
truncate -s 9M "$BIN/charsets/t.txt"
run "table of 9 MiB" -s t
cp "$BIN/charsets/ascii.rpl" "$BIN/charsets/z.rpl"
truncate -s 9M "$BIN/charsets/z.spc"
run "map of 9 MiB" -f z
mkdir "$HOME/dorvex.rc"
run "dorvex.rc is a directory"
