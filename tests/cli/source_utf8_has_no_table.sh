printf "x\n" > in.txt
"$DORVEX" -s utf-8 in.txt
