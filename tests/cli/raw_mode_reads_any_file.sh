# -b: no detection, even an RTF file is raw Word text.
printf "{\\\\rtf1 Hello}\rWorld\x07cell\x07\x07\r" > doc.rtf
"$DORVEX" -b -d utf-8 doc.rtf | od -An -c
