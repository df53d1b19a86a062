# Word 6.0 and Word 95 documents: 8-bit text through the code page that the document's font
# table names (ANSI, symbol and OEM fonts do not count), mac-roman for a Macintosh document,
# cp1252 otherwise; -s keeps the source charset. A complex document is read through its piece
# table in the WordDocument stream.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
printf 'Caf\xe9 cr\xe8me \x93quoted\x94.\nSecond paragraph.\n' > w1252.txt
printf 'Za\xbf\xf3\xb3\xe6 g\xea\x9cl\xb9 ja\x9f\xf1.\n' > w1250.txt
printf '\xcf\xf0\xe8\xe2\xe5\xf2, \xec\xe8\xf0.\n' > w1251.txt
printf '\xc3\xe5\xe9\xe1 \xf3\xef\xf5 \xca\xfc\xf3\xec\xe5.\n' > w1253.txt
printf 'Mac \x8e\x8f caf\x8e.\n' > wmac.txt
m() { "$MKFIXTURE" "$@" || echo "mkfixture failed: $*"; }
m word6 cp1252.doc w1252.txt
m word6 cp1250.doc w1250.txt --version=104 --fonts=0,238,238,2,204
m word6 cp1251.doc w1251.txt --fonts=0,204,255,255,255
m word6 cp1253.doc w1253.txt --fonts=161,2,2,2
m word6 mac.doc wmac.txt --mac
m word6 complex.doc w1252.txt --complex --pieces=3
for f in cp1252 cp1250 cp1251 cp1253 mac complex; do
  echo "-- $f"
  "$DORVEX" -f bare -d utf-8 -w $f.doc; echo "status $?"
done
echo "-- -s cp1252"
"$DORVEX" -f bare -s cp1252 -d utf-8 -w cp1251.doc
echo "-- a missing table: the source charset"
rm "$BIN/charsets/cp1253.txt"
"$DORVEX" -f bare -s koi8-r -d utf-8 -w cp1253.doc
"$DORVEX" -f bare -d utf-8 -w cp1253.doc
