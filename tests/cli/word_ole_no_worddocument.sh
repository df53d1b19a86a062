# A compound file without a WordDocument stream (a spreadsheet): refused by kind, status 69.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
printf 'cells' > book.bin
"$MKFIXTURE" ole book.xls Workbook=book.bin --storage=_VBA_PROJECT_CUR
"$DORVEX" -f bare -d utf-8 book.xls
