# dorvex.exe takes its system configuration and its data from its own directory, as the system
# names it, never from the current one; it joins paths with "\" and splits path lists at ";"
# alone, so a drive letter's ":" stays in its path, and "~\" is the home directory.
winpath() { printf 'Z:%s' "$1" | tr / '\\'; }
# Paths as the program writes them, backslashes and all, with the temporary directory named.
show() { W=$(winpath "$WORK") perl -pe 's/\Q$ENV{W}\E/<WORK>/g'; }
printf 'caf\xe9\n' > in.txt
mkdir elsewhere elsewhere/charsets
printf 'this is not = a configuration\n' > elsewhere/dorvex.rc
printf '0x41 0x0042\n' > elsewhere/charsets/cp866.txt
cd elsewhere || exit 1
printf 'target_charset = utf-8\n' > "$BIN/dorvex.rc"
"$DORVEX" ../in.txt; echo "status $?"
mkdir -p "$WORK/extra" "$HOME/tables"
cp "$BIN/charsets/cp1252.txt" "$WORK/extra/mine.txt"
cp "$BIN/charsets/koi8-r.txt" "$HOME/tables/theirs.txt"
printf 'charset_path = %s;~\\tables;%%s\\charsets\n' "$(winpath "$WORK/extra")" >> "$BIN/dorvex.rc"
"$DORVEX" -s mine ../in.txt; echo "status $?"
"$DORVEX" -s theirs ../in.txt | od -An -tx1; echo "status $?"
"$DORVEX" -l > list.txt; head -n 2 list.txt
# The first element alone, with a ":" in the drive letter only.
printf 'charset_path = %s\n' "$(winpath "$WORK/extra")" >> "$BIN/dorvex.rc"
"$DORVEX" -l
# A broken system file is named by its full path, as the system gives the directory.
printf 'format tex\n' > "$BIN/dorvex.rc"
"$DORVEX" -V 2>&1 | show; echo "status ${PIPESTATUS[0]}"
