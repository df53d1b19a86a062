# UTF-16 after either byte-order mark; a UTF-8 mark is U+FEFF, which the ascii maps drop.
printf "\xff\xfeA\0B\0C\0D\0\x16\x04\n\0" > le.txt
printf "\xfe\xff\0A\0B\0C\0D\x04\x16\0\n" > be.txt
printf "\xef\xbb\xbfmark\n" > bom8.txt
for f in le.txt be.txt bom8.txt; do "$DORVEX" -u -d utf-8 "$f" | od -An -c; done
