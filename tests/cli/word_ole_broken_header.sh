# A damaged container is that input's failure (its message names it); the run goes on with the
# next input, and the status is the last one's.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo plain > plain.txt
echo text > text.txt
"$MKFIXTURE" word97 shift.doc text.txt --shift=6
"$DORVEX" -f bare -d utf-8 shift.doc plain.txt
