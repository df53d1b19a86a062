# A Windows Write file is decoded 8-bit even with -u, after its notice line.
printf "\x31\xbe\0\0Write text \xe9\r\nsecond\r\n" > doc.wri
"$DORVEX" -u -s cp1252 -d utf-8 doc.wri
