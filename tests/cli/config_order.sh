# System file beside the executable, then the user's file along HOME, then the options.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
printf "caf\xe9 \x80\n" > in.txt
printf "source_charset = cp1252\ntarget_charset = koi8-r\nunknown_char = '*'\n" > "$BIN/dorvex.rc"
echo "-- system file"; "$DORVEX" -f bare in.txt
printf "target_charset = utf-8\n" > "$HOME/dorvex.rc"
echo "-- user file overrides"; "$DORVEX" in.txt
echo "-- option overrides both"; "$DORVEX" -d 8859-1 in.txt | od -An -tx1
