# A Word 97 document in a compound file, 8-bit text in short sectors, from a file and a pipe.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
printf 'Caf\xe9 cr\xe8me, na\xefve.\nSecond paragraph.\n' > text.txt
"$MKFIXTURE" word97 doc.doc text.txt
"$DORVEX" -f bare -s cp1252 -d utf-8 doc.doc; echo "status $?"
echo "-- pipe"
"$DORVEX" -f bare -s cp1252 -d utf-8 < doc.doc; echo "status $?"
