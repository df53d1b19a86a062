# Standard input and output are binary: the text's own line ends go out as they are (no CR is
# added before a LF, a CR LF stays one), and a byte 1A in a piped input does not end it.
printf 'one\r\ntwo\r\n' > crlf.txt
printf 'one\ntwo\n' > lf.txt
"$DORVEX" crlf.txt | od -An -c
"$DORVEX" lf.txt | od -An -c
"$DORVEX" - < crlf.txt | od -An -c
printf 'a\032b\nc\n' | "$DORVEX" - | od -An -c
"$DORVEX" -w "$DATA/good/word97_letter.doc" | head -c 40 | od -An -c
