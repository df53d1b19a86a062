# Charset tables, maps and configuration files that are no regular file (a device, a FIFO, a
# directory, also behind a link) or larger than any real one are refused with the message of an
# invalid file of their kind, and the run ends as it would for one; a link to a regular file is
# fine. A configuration file that is there but cannot be read is one warning, and the run goes on.
# Every run is bounded in time: a refused file must not be read forever.
printf 'text\n' > in.txt
mkfifo "$WORK/fifo"
truncate -s 9M "$WORK/huge"
mkdir "$WORK/dir"
cp "$BIN/charsets/cp1252.txt" "$WORK/real-table.txt"
run() {  # label, options...
  local label=$1; shift
  printf '== %s\n' "$label"
  timeout 20 "$DORVEX" -d utf-8 "$@" in.txt 2>&1 | sed "s|$BIN|BIN|g; s|$HOME|HOME|g"
  echo "status ${PIPESTATUS[0]}"
}
for target in /dev/zero "$WORK/fifo" "$WORK/huge" "$WORK/dir" "$WORK/real-table.txt"; do
  ln -sfn "$target" "$BIN/charsets/t.txt"
  run "table -> ${target#"$WORK"/}" -s t
done
cp "$BIN/charsets/ascii.rpl" "$BIN/charsets/z.rpl"
for target in /dev/zero "$WORK/fifo" "$WORK/huge"; do
  ln -sfn "$target" "$BIN/charsets/z.spc"
  run "map -> ${target#"$WORK"/}" -f z
done
# A double-byte table that is no regular file is a code page without a table.
printf '{\\rtf1\\ansi\\ansicpg932 a\\'"'"'82\\'"'"'a0b\\par}' > dbcs.rtf
for target in "$WORK/fifo" /dev/zero; do
  ln -sfn "$target" "$BIN/charsets/cp932.dbcs"
  printf '== cp932.dbcs -> %s\n' "${target#"$WORK"/}"
  timeout 20 "$DORVEX" -d utf-8 -w dbcs.rtf; echo "status $?"
done
for target in /dev/zero "$WORK/fifo" "$WORK/huge" "$WORK/dir"; do
  ln -sfn "$target" "$HOME/dorvex.rc"
  run "dorvex.rc -> ${target#"$WORK"/}"
done
printf 'source_charset = cp1252\n' > "$WORK/real.rc"
ln -sfn "$WORK/real.rc" "$HOME/dorvex.rc"
printf 'caf\xe9\n' > in.txt
run "dorvex.rc -> a regular file"
# Unreadable: CI runs as root, which reads any file, so the run drops to another user first.
rm "$HOME/dorvex.rc"
printf 'source_charset = cp1252\n' > "$HOME/dorvex.rc"
chmod 000 "$HOME/dorvex.rc"
chmod a+rx "$WORK" "$BIN" "$HOME" "$WORK/run"
chmod a+r in.txt
if [ "$(id -u)" = 0 ]; then
  as_user() { setpriv --reuid=65534 --regid=65534 --clear-groups "$@"; }
else
  as_user() { "$@"; }
fi
# A coverage build writes its profile where the other user may not: somewhere it may.
mkdir -m 777 "$WORK/profiles"
export LLVM_PROFILE_FILE="$WORK/profiles/%p.profraw"
printf '== unreadable dorvex.rc\n'
as_user timeout 20 "$DORVEX" -d utf-8 in.txt 2>&1 | sed "s|$HOME|HOME|g"
echo "status ${PIPESTATUS[0]}"
