printf "price 5\x80 \xe9\n" > in.txt
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo "-- bad char"; "$DORVEX" -f bare -s cp1252 -d koi8-r in.txt
echo "-- hex"; "$DORVEX" -f bare -s cp1252 -d koi8-r -x in.txt
echo "-- replacement"; "$DORVEX" -s cp1252 -d koi8-r in.txt
echo "-- special character map wins over the target"; printf "0065 E\n" > "$BIN/charsets/bare.spc"
"$DORVEX" -f bare -s cp1252 -d koi8-r in.txt
