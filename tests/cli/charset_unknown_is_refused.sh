# A charset name that is neither a table nor an alias ends the run, wherever it was given; the
# listing and the version still work, since names are checked once the options are all read.
printf "\xc4\xe0\n" > in.txt
"$DORVEX" -s nosuch -d utf-8 in.txt; echo "status $?"
"$DORVEX" -d UTF-9 in.txt; echo "status $?"
printf "target_charset = utf-16\n" > "$HOME/dorvex.rc"
"$DORVEX" in.txt; echo "status $?"
"$DORVEX" -d nonsense -V; echo "status $?"
# Known name without a table: the source side still has no built-in UTF-8.
"$DORVEX" -s UTF8 -d utf-8 in.txt; echo "status $?"
