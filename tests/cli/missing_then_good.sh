printf "good text\n" > good.txt
"$DORVEX" -d utf-8 no-such-file good.txt
