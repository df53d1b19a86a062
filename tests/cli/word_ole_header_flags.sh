# Header flags: fast-saved (warned, text kept), encrypted (refused, 69).
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
echo 'Saved in a hurry.' > text.txt
"$MKFIXTURE" word97 fast.doc text.txt --flags=0x0014
"$MKFIXTURE" word97 locked.doc text.txt --flags=0x0100 --key=0x1234abcd
"$DORVEX" -f bare -d utf-8 fast.doc; echo "status $?"
"$DORVEX" -f bare -d utf-8 locked.doc; echo "status $?"
