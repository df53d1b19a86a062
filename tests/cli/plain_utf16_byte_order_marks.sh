# Plain text that starts with a UTF-16 byte-order mark is UTF-16 without -u, as text with a
# UTF-8 mark is UTF-8; -s and -8 keep the 8-bit reading through the source charset.
printf '\xff\xfeA\x00\xe9\x00\x16\x04\n\x00' > le.txt
printf '\xfe\xff\x00A\x00\xe9\x04\x16\x00\n\x00' > be.txt
printf '\xff\xfe' > mark-only.txt
printf '\xff\xfeA' > odd.txt
printf 'source_charset = cp1252\n' > "$HOME/dorvex.rc"
for f in le.txt be.txt mark-only.txt odd.txt; do
  printf '%s: [%s]\n' "$f" "$("$DORVEX" -d utf-8 "$f" | od -An -c)"
done
printf 'with -u: '; "$DORVEX" -u -d utf-8 le.txt | od -An -c
printf 'with -s cp1252: '; "$DORVEX" -s cp1252 -d utf-8 le.txt | od -An -c
printf 'with -8: '; "$DORVEX" -8 -d utf-8 be.txt | od -An -c
