# -u: the first plain text is read as UTF-8; the decoder it chose stays for the run, so the
# second file is copied 8-bit through the source charset.
printf "caf\xc3\xa9\n" > one.txt
cp one.txt two.txt
"$DORVEX" -u -s 8859-1 -d utf-8 one.txt two.txt
