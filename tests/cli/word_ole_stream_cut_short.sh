# A WordDocument stream the container cannot deliver is that input's failure: a message naming
# the file, status 1, the text read so far kept (a file that shrinks while it is read is tested
# in test_ole: its stream is marked the same way). A later good input still decides the status.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
for i in $(seq 1 400); do echo "Paragraph $i."; done > long.txt
m() { "$MKFIXTURE" "$@" || echo "mkfixture failed: $*"; }
m word97 whole.doc long.txt
m word97 first_past_end.doc long.txt --first=4000
m word97 size_past_chain.doc long.txt --size=40000
m word97 bad_second_link.doc long.txt --bad-link=0x40000000
printf 'good\n' > good.txt
for f in whole first_past_end size_past_chain bad_second_link; do
  echo "-- $f"
  "$DORVEX" -f bare -d utf-8 -w $f.doc | tail -1; echo "[status ${PIPESTATUS[0]}]"
done
echo "-- then a good file"
"$DORVEX" -f bare -d utf-8 -w first_past_end.doc good.txt; echo "[status $?]"
