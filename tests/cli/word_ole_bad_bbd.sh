# A BBD sector count the file cannot hold.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo text > text.txt
"$MKFIXTURE" word97 doc.doc text.txt --bbd-count=99999
"$DORVEX" -f bare -d utf-8 doc.doc
