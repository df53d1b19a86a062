# Word files with a plain header (DB A5): text right after the header, after a gap, with a
# text start inside the header (read from the end of the header), and past the end.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo 'Plain header text.' > text.txt
"$MKFIXTURE" wordplain plain.doc text.txt
"$MKFIXTURE" wordplain gap.doc text.txt --gap=256
"$MKFIXTURE" wordplain inside.doc text.txt --textstart=0x40
"$MKFIXTURE" wordplain past.doc text.txt --textstart=0x1000
for f in plain gap inside past; do
  echo "-- $f"; "$DORVEX" -f bare -d utf-8 $f.doc; echo "status $?"
done
