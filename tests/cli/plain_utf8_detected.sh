# Plain text without a byte-order mark whose first 64 KiB are valid UTF-8 with a multi-byte
# character is read as UTF-8; -s or -8 keep the 8-bit road; text in a legacy code page is no
# valid UTF-8 and keeps it too. Past the sample, an ill-formed sequence is one U+FFFD for its
# longest valid start, written as U+FFFD in UTF-8 output, with or without -x.
printf 'caf\xc3\xa9 \xd0\x96\xe2\x82\xac\xf0\x9f\x98\x80\n' > utf8.txt
printf 'caf\xe9 \xc6\n' > cp1251.txt
printf 'plain ASCII\n' > ascii.txt
{ printf '\xc3\xa9'; head -c 70000 /dev/zero | tr '\0' 'a'; printf ' \xff \xe2\x82 \xed\xa0\x80 \xc3\xa9\n'; } > late.txt
for opts in "-d utf-8" "-d utf-8 -s cp1251" "-d utf-8 -8" "-d koi8-r"; do
  echo "== $opts"
  for f in utf8.txt cp1251.txt ascii.txt; do "$DORVEX" $opts "$f" | od -An -c; done
done
echo "== late"
"$DORVEX" -d utf-8 late.txt | tail -c 16 | od -An -c
"$DORVEX" -d utf-8 -x late.txt | tail -c 38 | od -An -c
# Only the first 64 KiB decide: a multi-byte character after them does not count.
{ head -c 70000 /dev/zero | tr '\0' 'a'; printf '\xc3\xa9\n'; } > ascii_first.txt
"$DORVEX" -d utf-8 ascii_first.txt | tail -c 5 | od -An -c
