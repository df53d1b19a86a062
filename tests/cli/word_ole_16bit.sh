# 16-bit text (flag 0x1000): the decoder takes UTF-16 units, whatever the source charset.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
printf 'Добрый день, Москва.\nΑλφάβητο: α β γ, €.\n' > text.txt
"$MKFIXTURE" word97 doc.doc text.txt --16bit
"$DORVEX" -f bare -d utf-8 doc.doc; echo "status $?"
echo "-- pipe"
cat doc.doc | "$DORVEX" -f bare -d utf-8; echo "status $?"
