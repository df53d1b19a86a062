printf "\xc4\xe0\n" > in.txt
"$DORVEX" -s nosuch -d utf-8 in.txt
