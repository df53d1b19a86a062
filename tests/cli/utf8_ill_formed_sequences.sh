# Ill-formed UTF-8 never eats good text: one U+FFFD for the longest valid start of a sequence,
# and decoding resumes at the byte that broke it. The same reading in every UTF-8 decoder: -u at
# the start of a file (the bytes detection read, then the stream), -u further in (blocks), RTF
# with \ansicpg65001, and plain text found to be UTF-8 (past the 64 KiB that decided it).
seqs=(
  'caf\xe9 na\xefve' '\xc3\xa9|' '\xe2\x82\xac|' '\xf0\x9f\x98\x80|' '\x80|' '\xc0\xaf|'
  '\xe0\x80\xaf|' '\xe2\x82x' '\xed\xa0\x80|' '\xf4\x90\x80\x80|' '\xf8\x88\x80\x80\x80|'
  '\xc3\xc3\xa9|' '\xf0\x9f\x98' '\xe2\x82' 'a\xc3'
)
for s in "${seqs[@]}"; do
  printf "$s" > start.txt
  printf "01234567$s" > inner.txt
  printf "{\\\\rtf1\\\\ansicpg65001 $s}" > in.rtf
  printf '%-28s' "$s"
  printf '%s / %s / %s\n' "$("$DORVEX" -u -d utf-8 start.txt)" \
    "$("$DORVEX" -u -d utf-8 inner.txt | cut -c9-)" "$("$DORVEX" -w -d utf-8 in.rtf)"
done
# Detection: 64 KiB of valid UTF-8 decide, then the bad bytes come.
{ printf '\xc3\xa9'; head -c 65536 /dev/zero | tr '\0' 'a'; printf ' caf\xe9 na\xefve \xe2\x82x\n'; } > big.txt
"$DORVEX" -d utf-8 big.txt | tail -c 22
