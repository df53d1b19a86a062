rm "$BIN/charsets/cp866.txt"
printf "caf\xe9\n" > in.txt
"$DORVEX" -s cp1252 -d utf-8 in.txt
