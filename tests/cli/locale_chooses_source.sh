# Without source_charset in a configuration file or -s, a locale with a language reads 8-bit text
# in Windows' ANSI code page for it; C, POSIX, C.UTF-8 and use_locale = no keep cp1251. The
# bytes E9 and DE differ between the code pages (cp1252: e-acute, thorn; cp1251: short i, yu).
# Plain text and RTF without \ansicpg.
printf 'caf\xe9 \xde\n' > in.txt
printf '{\\rtf1\\ansi caf\\'"'"'e9 \\'"'"'de\\par}' > in.rtf
run() {  # label, environment... (options in OPTS)
  local label=$1; shift
  printf '%-26s %s %s\n' "$label" "$(env -u LC_ALL -u LC_CTYPE -u LANG "$@" "$DORVEX" ${OPTS:-} -d utf-8 in.txt)" \
    "$(env -u LC_ALL -u LC_CTYPE -u LANG "$@" "$DORVEX" ${OPTS:-} -d utf-8 -w in.rtf)"
}
for l in en_US.UTF-8 de_DE@euro fr ru_RU.UTF-8 uk_UA bg el_GR.UTF-8 tr_TR az he_IL ar_EG fa_IR ur \
         et_EE lv lt_LT vi_VN th_TH cs_CZ pl_PL.ISO-8859-2 hu sk sl hr ro bs sq xx_YY C.UTF-8 POSIX C; do
  run "LANG=$l" LANG=$l
done
run "LC_ALL=ru over LANG=en" LC_ALL=ru_RU LANG=en_US.UTF-8
run "LC_CTYPE=el over LANG=en" LC_CTYPE=el_GR LANG=en_US
run "no locale variables"
OPTS="-s cp1251" run "-s wins" LANG=en_US.UTF-8
printf 'source_charset = cp1253\n' > "$HOME/dorvex.rc"
run "dorvex.rc wins" LANG=ru_RU.UTF-8
printf 'use_locale = no\n' > "$HOME/dorvex.rc"
run "use_locale = no" LANG=en_US.UTF-8
