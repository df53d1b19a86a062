# With the charset tables missing (a data directory not found), a charset dorvex ships is named
# as a file not found, whether it is the built-in default, a locale's choice, an alias or a name
# given by -s, -d or a configuration file; only a name that is no shipped charset nor an alias of
# one is unknown.
mv "$BIN/charsets" "$BIN/elsewhere"
mkdir "$BIN/charsets"
cp "$BIN/elsewhere/ascii.spc" "$BIN/elsewhere/ascii.rpl" "$BIN/charsets/"
printf 'text\n' > in.txt
run() { "$DORVEX" "$@" in.txt; echo "status $?"; }
run
env LC_ALL=en_US.UTF-8 "$DORVEX" in.txt; echo "status $?"
run -d utf-8 -s latin1
run -d utf-8 -s ISO-8859-5
run -d KOI8R
run -d utf-8 -s nosuch
printf 'source_charset = windows-1250\ntarget_charset = utf-8\n' > "$HOME/dorvex.rc"
run
"$DORVEX" -l; echo "status $?"
