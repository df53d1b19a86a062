# --json: one record per input in input order, whatever each gave; names from the command line,
# then from --files-from (NUL-separated with -0). The time taken varies, so it is masked.
printf 'plain text\twith a tab\n' > plain.txt
printf '\320\317\021\340\241\261\032\341broken' > broken.doc
printf 'caf\351\n' > latin.txt
printf '%s\0' latin.txt missing.doc > names
"$DORVEX" --json plain.txt broken.doc "$DATA/good/word97_letter.doc" -0 --files-from names |
  sed -e 's/"ms":[0-9.]*/"ms":T/' -e "s|$DATA|DATA|g" | cut -c1-160
echo "status ${PIPESTATUS[0]}"
# The same run on two threads writes the same records.
a=$("$DORVEX" --json plain.txt broken.doc latin.txt "$DATA/good/lo_letter.rtf" | sed 's/"ms":[0-9.]*//')
b=$("$DORVEX" --json -j 2 plain.txt broken.doc latin.txt "$DATA/good/lo_letter.rtf" | sed 's/"ms":[0-9.]*//')
[ "$a" = "$b" ] && echo "-j 2: same records"
# --json writes UTF-8: another target is refused before anything is read.
"$DORVEX" --json -d koi8-r plain.txt
echo "status $?"
