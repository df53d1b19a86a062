# Stream names compare without regard to letter case, as real files store them either way.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo 'Found in lower case.' > text.txt
"$MKFIXTURE" word97 lower.doc text.txt --name=worddocument
"$MKFIXTURE" word97 upper.doc text.txt --name=WORDDOCUMENT
"$DORVEX" -f bare -d utf-8 lower.doc; echo "status $?"
"$DORVEX" -f bare -d utf-8 upper.doc; echo "status $?"
