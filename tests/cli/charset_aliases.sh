# Charset names as people type them, for the target, the source and in the configuration file.
printf "\xc4\xe0 \xe9\n" > in.txt
for name in UTF-8 utf8 Utf-8 windows-1251 CP1251 866 IBM866 koi8r KOI8-R latin1 ISO-8859-5 \
    iso8859-5 ISO_8859-5 macintosh; do
  printf "%-12s" "$name"; "$DORVEX" -d "$name" in.txt | od -An -tx1
done
printf "%-12s" "-s latin1"; "$DORVEX" -s LATIN1 -d utf-8 in.txt | od -An -tx1
printf "target_charset = UTF8\nsource_charset = Windows-1252\n" > "$HOME/dorvex.rc"
printf "%-12s" "dorvex.rc"; "$DORVEX" in.txt | od -An -tx1
