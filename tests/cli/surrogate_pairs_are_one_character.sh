# A character beyond U+FFFF arrives as a surrogate pair (RTF \u, UTF-16) or as 4-byte UTF-8:
# UTF-8 output writes it as one 4-byte character, an 8-bit target as one bad character (or
# one hex form); a lone surrogate is never written as an encoded surrogate.
printf '{\\rtf1 a\\u-10179?\\u-8704?b \\u-10179?c \\u-8704?d\\par}' > pair.rtf
printf '\xff\xfea\0\x3d\xd8\x00\xdeb\0\x3d\xd8c\0\n\0' > pair16.txt
printf 'a\xf0\x9f\x98\x80bcdefgh\xf0\x9f\x98\x80\n' > pair8.txt
for opts in "-d utf-8" "" "-x"; do
  echo "== $opts"
  for f in pair.rtf pair16.txt pair8.txt; do "$DORVEX" $opts -u "$f" | od -An -c; done
done
