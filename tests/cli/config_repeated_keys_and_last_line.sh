# Keys and options given twice: the last one counts, and (under LeakSanitizer) nothing leaks.
# The file's last line has no line end and still counts.
printf "caf\xe9\n" > in.txt
printf "format = tex\nformat = ascii\nsource_charset = cp1251\nsource_charset = cp1252\n" > "$BIN/dorvex.rc"
printf "target_charset = koi8-r\ntarget_charset = utf-8" >> "$BIN/dorvex.rc"
"$DORVEX" in.txt
"$DORVEX" -f tex -f ascii -s cp1251 -s cp1252 -d koi8-r -d 8859-1 in.txt | od -An -tx1
