# No root entry before the enumeration ends: an empty entry comes first.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo text > text.txt
"$MKFIXTURE" word97 doc.doc text.txt --empty-before-root
"$DORVEX" -f bare -d utf-8 doc.doc
