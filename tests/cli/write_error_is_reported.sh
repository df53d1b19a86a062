printf "some text\n" > in.txt
"$DORVEX" -d utf-8 in.txt > /dev/full
