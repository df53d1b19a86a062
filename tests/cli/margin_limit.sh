# The margin must stay below 512 minus the longest map string: the shipped ascii maps' longest
# replacement is 9 bytes, so 502 is the largest margin they accept.
printf "x\n" > in.txt
"$DORVEX" -m 502 in.txt && echo "502 accepted"
"$DORVEX" -m 503 in.txt; echo "503: $?"
# A map entry of 10 bytes lowers the limit to 501.
cp "$BIN/charsets/ascii.rpl" "$BIN/charsets/long.rpl"
printf "0041 \"0123456789\"\n" > "$BIN/charsets/long.spc"
"$DORVEX" -f long -m 501 in.txt && echo "501 accepted"
"$DORVEX" -f long -m 502 in.txt
