# Word 97 documents read through their piece tables: pieces stored out of order with deleted
# text between them, 8-bit pieces in cp1252 whatever the source charset, 8- and 16-bit pieces
# mixed, field instructions skipped, anchors dropped, the stories after the main text.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
printf 'Caf\xe9 \x93cr\xe8me\x94, one.\nTwo: see \x13 HYPERLINK "http://x.test/" \x14the site\x15.\nNested: \x13 IF \x13 DATE \x141\x15 = 1 "\x13 PAGE \x149\x15" \x14result \x13 PAGE \x149\x15\x15 done.\nPic\x01 note\x05 shape\x08 end.\n' > main8.txt
printf 'Ελληνικά and Кириллица \x13 PAGE \x14\x33\x15 text.\nLast paragraph of the main text.\n' > main16.txt
printf 'A footnote.\n' > ftn.txt
printf '\x03\n\x04\nHeader line.\n' > hdr.txt
printf 'Text box.\n' > box.txt
m() { "$MKFIXTURE" "$@" || echo "mkfixture failed: $*"; }
m word97 eight.doc main8.txt --pieces=4
m word97 wide.doc main16.txt --16bit --mixed --pieces=5 --footnotes=ftn.txt --headers=hdr.txt --textboxes=box.txt
for f in eight wide; do
  echo "-- $f"
  "$DORVEX" -f bare -d utf-8 -w $f.doc; echo "status $?"
done
echo "-- -s and -8 do not change a piece table's text"
"$DORVEX" -f bare -s koi8-r -8 -d utf-8 -w eight.doc
echo "-- verbose"
"$DORVEX" -v -f bare -d utf-8 -w wide.doc | grep piece
