printf "good text\n" > good.txt
"$DORVEX" -d utf-8 good.txt no-such-file
