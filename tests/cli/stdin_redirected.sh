printf "redirected\n" > in.txt
"$DORVEX" -d utf-8 < in.txt
