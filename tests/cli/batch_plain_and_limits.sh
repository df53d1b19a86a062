# A batch without --json writes each text, then its messages, in input order; --max-chars stops
# each document after that many characters (a record then says truncated).
printf 'first file\n' > a.txt
printf 'second\n' > b.txt
printf 'a.txt\r\n\nmissing.txt\nb.txt\n' > list
"$DORVEX" -j 3 --files-from list 2>&1
echo "status $?"
"$DORVEX" --max-chars 9 -d utf-8 "$DATA/good/word97_letter.doc" a.txt
echo "|status $?"
"$DORVEX" --json --max-chars 5 a.txt | sed 's/"ms":[0-9.]*/"ms":T/'
"$DORVEX" --json -j 1x a.txt
echo "status $?"
