rm "$BIN"/charsets/*.txt
"$DORVEX" -l
