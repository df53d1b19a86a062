# The Windows program writes its text as a Windows text tool does: every line end is CR LF,
# from plain text, a Word document, -w wrapping, a block long enough to be written to the
# descriptor directly, --json records and messages alike; a CR LF already in a text becomes
# CR CR LF, as stdio's text mode writes it. Standard input stays binary: a byte 1A in a piped
# document is no end. DORVEX_CRLF is the program with its own line ends.
ends() {  # FILE: its line ends, counted
  perl -0777 -ne '$lf = tr/\n//; $crlf = () = /\r\n/g; $crcr = () = /\r\r\n/g;
                  printf "%-14s %d line ends, %d CR LF, %d bare LF, %d CR CR LF\n",
                         $ARGV, $lf, $crlf, $lf - $crlf, $crcr' "$1"
}
printf 'one\ntwo\n' > lf.txt
printf 'one\r\ntwo\r\n' > crlf.txt
"$DORVEX_CRLF" lf.txt | od -An -c
"$DORVEX_CRLF" crlf.txt | od -An -c
"$DORVEX_CRLF" - < lf.txt | od -An -c
printf 'a\032b\nc\n' | "$DORVEX_CRLF" - | od -An -c
"$DORVEX_CRLF" "$DATA/good/word97_letter.doc" > letter.txt; ends letter.txt
"$DORVEX_CRLF" -w "$DATA/good/word97_letter.doc" > wrapped.txt; ends wrapped.txt
head -c 40 wrapped.txt | od -An -c
# 2000 lines of text, 140 KB, plain and in a Word document.
for i in $(seq 2000); do echo "Line $i of a text long enough to be written in large blocks."; done > big.txt
"$MKFIXTURE" word97 big.doc big.txt
"$DORVEX_CRLF" big.txt > big.out; ends big.out
"$DORVEX_CRLF" -w big.doc > big.doc.out; ends big.doc.out
# The text itself is the same, line for line.
perl -pe 's/\r\n\z/\n/' big.out | cmp - big.txt && echo "big.out is big.txt with CR LF"
# One --json record a line, each ended by CR LF; the line ends in the text are escaped as before.
"$DORVEX_CRLF" --json lf.txt "$DATA/good/word97_letter.doc" > records.txt; ends records.txt
grep -c '"text":"one\\ntwo\\n"' records.txt
# Messages too.
"$DORVEX_CRLF" missing.doc 2> messages.txt; echo "status $?"; ends messages.txt
