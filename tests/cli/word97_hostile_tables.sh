# Word 97 documents whose file information block or piece table lies: each is read by its text
# range, or gives the text that can be read; none crashes, hangs or reads out of bounds. A table
# with a piece out of order or outside the stream, wholly or partly, is damaged as a whole: the
# text range gives all the text.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
printf 'First part. Second part. Third part.\n' > text.txt
m() { "$MKFIXTURE" "$@" || echo "mkfixture failed: $*"; }
m word97 past_end.doc text.txt --pieces=3 --first-fc=0x7FFFFFF0   # a piece beyond the stream
m word97 wrapping.doc text.txt --pieces=3 --first-fc=0xFFFFFFFF   # its end wraps 32 bits
m word97 backwards.doc text.txt --pieces=3 --backwards            # a piece that runs backwards
m word97 second_past.doc text.txt --pieces=3 --second-fc-add=0x100000  # the second beyond it
m word97 second_partly.doc text.txt --pieces=3 --second-fc-add=24      # the second partly in it
m word97 long_clx.doc text.txt --pieces=3 --clx-len=0xFFFFFFF0    # longer than the table stream
m word97 huge_csw.doc text.txt --pieces=3 --csw=0xFFFF            # counts past the stream
m word97 short_text.doc text.txt --pieces=3 --ccp-text=12         # the story lengths bound
m word97 long_text.doc text.txt --ccp-text=0x7FFFFFFF             # lengths past the pieces
m word97 storage.doc text.txt --pieces=3 --table=0Table --flags=0x0200 --storage=1Table
for f in past_end wrapping backwards second_past second_partly long_clx huge_csw short_text long_text storage; do
  echo "-- $f"
  "$DORVEX" -f bare -d utf-8 -w $f.doc; echo "status $?"
done
echo "-- one piece listed 5000 times: no more text than the stream holds"
head -c 20000 /dev/zero | tr '\0' 'x' > big.txt
m word97 repeated.doc big.txt --repeat-piece=5000
"$DORVEX" -f bare -d utf-8 -w repeated.doc | wc -c; echo "status ${PIPESTATUS[0]}"
