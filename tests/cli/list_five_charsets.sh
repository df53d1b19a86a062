rm "$BIN"/charsets/*.txt
for n in a b c d e; do printf "0x41 0x41\n" > "$BIN/charsets/$n.txt"; done
"$DORVEX" -l
for n in f g; do printf "0x41 0x41\n" > "$BIN/charsets/$n.txt"; done
"$DORVEX" -l
