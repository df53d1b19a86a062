cp "$BIN/charsets/ascii.spc" "$BIN/charsets/half.spc"
printf "text\n" > in.txt
"$DORVEX" -f half in.txt
