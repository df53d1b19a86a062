# Ordinary sectors: a document stream over 4096 bytes, with 512- and with 4096-byte sectors.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
for i in $(seq 1 120); do echo "Line $i of a long document."; done > text.txt
"$MKFIXTURE" word97 s512.doc text.txt
"$MKFIXTURE" word97 s4096.doc text.txt --sector=4096
"$DORVEX" -f bare -d utf-8 -m 0 s512.doc > a.out; echo "status $?"
"$DORVEX" -f bare -d utf-8 -m 0 s4096.doc > b.out; echo "status $?"
cmp a.out b.out && echo same
head -2 a.out; tail -1 a.out; wc -l < a.out
