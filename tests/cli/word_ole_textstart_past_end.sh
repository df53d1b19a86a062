# A text start beyond the end of the WordDocument stream, in a document read by its text range.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo text > text.txt
"$MKFIXTURE" word97 doc.doc text.txt --textstart=100000 --no-clx
"$DORVEX" -f bare -d utf-8 doc.doc
