# UTF-8 output stays valid UTF-8 at every margin: a line without a space is cut at a character
# boundary (a character wider than the margin gets a line of its own), never inside one, and the
# margin counts columns (a wide character two).
# The text mixes 3-byte CJK, 2-byte Cyrillic, ASCII and a 4-byte character from a pair.
{
  printf '{\\rtf1\\ansi '
  for i in 1 2 3 4 5 6 7 8; do
    printf '\\u26085?\\u26412?\\u35486?\\u12398?\\u25991?\\u31456?'
    printf '\\u1046?\\u1046?ab\\u-10179?\\u-8704?\\u26085?'
  done
  printf '\\par}'
} > cjk.rtf
bad=0
for m in $(seq 1 80); do
  "$DORVEX" -d utf-8 -m "$m" cjk.rtf > out.txt
  iconv -f UTF-8 -t UTF-8 out.txt > /dev/null 2>&1 || { echo "margin $m: not UTF-8"; bad=1; }
  # No line is wider than the margin unless it holds a single character. Columns: the CJK
  # characters and the emoji (3- and 4-byte leads) take two, the rest one.
  awk -v m="$m" '{ t = $0; wide = gsub(/[\340-\364]/, "", t); two = gsub(/[\300-\337]/, "", t)
                   one = gsub(/[\001-\177]/, "", t); cols = 2 * wide + two + one
                   if (cols > m && wide + two + one > 1) { print "margin " m ": line of " cols " columns"; exit 1 } }' out.txt || bad=1
done
[ $bad = 0 ] && echo "margins 1 to 80: valid UTF-8, cut at characters, within the margin"
"$DORVEX" -d utf-8 -m 10 cjk.rtf | head -4
