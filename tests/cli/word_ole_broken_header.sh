# A damaged container ends the run at once, even with inputs still to come.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo plain > plain.txt
echo text > text.txt
"$MKFIXTURE" word97 shift.doc text.txt --shift=6
"$DORVEX" -f bare -d utf-8 shift.doc plain.txt
