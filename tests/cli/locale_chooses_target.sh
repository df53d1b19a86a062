# Without a target named, the locale's charset is the target; the C locale keeps cp866. (The
# source follows the locale's language too: cp1252 for en, ja and xx, cp1251 for ru and C.)
printf "\xc4\xe0 caf\xe9\n" > in.txt
run() { printf "%-28s" "$1"; shift; env -u LC_ALL -u LC_CTYPE -u LANG "$@" in.txt | od -An -tx1; }
run "C.UTF-8" LC_ALL=C.UTF-8 "$DORVEX"
run "LANG=en_US.UTF-8" LANG=en_US.UTF-8 "$DORVEX"
run "LC_CTYPE=ru_RU.KOI8-R" LC_CTYPE=ru_RU.KOI8-R "$DORVEX"
run "LC_ALL=C over LANG" LC_ALL=C LANG=C.UTF-8 "$DORVEX"
run "POSIX" LC_ALL=POSIX "$DORVEX"
run "no locale variables" "$DORVEX"
run "ja_JP.EUC-JP (no table)" LC_ALL=ja_JP.EUC-JP "$DORVEX"
run "-d wins" LC_ALL=C.UTF-8 "$DORVEX" -d koi8-r
printf "target_charset = cp1251\n" > "$HOME/dorvex.rc"
run "dorvex.rc wins" LC_ALL=C.UTF-8 "$DORVEX"
printf "use_locale = no\n" > "$HOME/dorvex.rc"
run "use_locale = no" LC_ALL=C.UTF-8 "$DORVEX"
