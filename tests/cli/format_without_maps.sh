printf "text\n" > in.txt
"$DORVEX" -f nosuch in.txt
