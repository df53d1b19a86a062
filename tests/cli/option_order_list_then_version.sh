rm "$BIN"/charsets/*.txt
printf "0x41 0x41\n" > "$BIN/charsets/only.txt"
"$DORVEX" -l -V
