# Word 97 documents saved by LibreOffice: every word of the source text comes out, in order.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
words() { tr '\001-\040' '\n' | grep -v '^$'; }
for d in word97_letter word97_cyrillic; do
  echo "-- $d"
  "$DORVEX" -f bare -s cp1252 -d utf-8 "$DATA/good/$d.doc" > out.txt; echo "status $?"
  if diff <(words < "$DATA/good/$d.txt") <(words < out.txt); then echo "words match"; fi
done
