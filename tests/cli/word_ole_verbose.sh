# The verbose report of a WordDocument stream: found at 128, the header's own text start.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo 'Reported.' > text.txt
"$MKFIXTURE" word97 doc.doc text.txt --gap=256 --charset=1252 --mac
"$DORVEX" -v -f bare -d utf-8 doc.doc
