# Standard input has one status, the document's, whether it is read as "-" or with no argument;
# as the last input it is the run's status, as a named file's is.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo 'Secret.' > text.txt
"$MKFIXTURE" word97 locked.doc text.txt --flags=0x0100 --key=0x1234abcd
printf 'cells' > book.bin
"$MKFIXTURE" ole book.xls Workbook=book.bin
printf 'plain\n' > plain.txt
for f in locked.doc book.xls plain.txt; do
  "$DORVEX" -f bare < "$f"; echo "$f, no argument: $?"
  "$DORVEX" -f bare - < "$f"; echo "$f, -: $?"
  "$DORVEX" -f bare plain.txt - < "$f"; echo "$f, last after a file: $?"
  "$DORVEX" -f bare - plain.txt < "$f"; echo "$f, first before a file: $?"
done
