# After a compound file the next input is read in standard mode again.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo 'From the container.' > text.txt
printf 'plain after\n' > plain.txt
"$MKFIXTURE" word97 doc.doc text.txt
"$DORVEX" -f bare -d utf-8 doc.doc plain.txt
