# A Word 97 document saved by LibreOffice with a table of contents, a hyperlink and footnotes:
# the field instructions are skipped, their results and the footnotes (after the main text) kept.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
"$DORVEX" -f bare -d utf-8 -w "$DATA/good/word97_fields.doc"; echo "status $?"
