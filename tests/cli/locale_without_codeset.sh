# A locale name without a codeset takes the codeset the locale itself defines. The locales are
# built here (LOCPATH), so the case depends on no locale the machine happens to have installed.
# It runs the executable as built: a static C library must answer as a shared one does.
# The source charset follows the language: cp1252 for de and xx, cp1251 for ru.
mkdir -p "$WORK/locales"
localedef -i ru_RU -f KOI8-R "$WORK/locales/ru_RU" >/dev/null 2>&1 || echo "localedef failed: ru_RU"
localedef -i de_DE -f UTF-8 "$WORK/locales/de_DE" >/dev/null 2>&1 || echo "localedef failed: de_DE"
# glibc's newlocale loses its copy of LOCPATH; leak checking builds must not blame dorvex.
printf "leak:__argz_add_sep\n" > "$WORK/lsan.supp"
export LSAN_OPTIONS="${LSAN_OPTIONS:+$LSAN_OPTIONS:}suppressions=$WORK/lsan.supp:print_suppressions=0"
printf "\xc4\xe0 caf\xe9\n" > in.txt
run() { printf "%-24s" "$1"; shift; env -u LC_ALL -u LC_CTYPE -u LANG LOCPATH="$WORK/locales" "$@" "$DORVEX" in.txt | od -An -tx1; }
run "LANG=ru_RU (KOI8-R)" LANG=ru_RU
run "LC_CTYPE=de_DE (UTF-8)" LC_CTYPE=de_DE
run "LC_ALL=ru_RU over LANG" LC_ALL=ru_RU LANG=de_DE
run "no such locale" LANG=xx_YY
