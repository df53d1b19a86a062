# The bytes format detection read from a pipe are handed back: the same text as from the file.
cat "$DATA/good/lo_letter.rtf" | "$DORVEX" -d utf-8 -
"$DORVEX" -d utf-8 "$DATA/good/lo_letter.rtf"
