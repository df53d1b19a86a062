# On a console the text comes out in the console's output code page: cp866 (the Russian
# console's), cp1252, and UTF-8 for 65001; the console shows it as the right characters. Here
# the console is Wine's, on a terminal made by script(1), which shows the console's characters in
# UTF-8; cmd's chcp sets the code page. Output to a file or a pipe keeps the default (cp866).
printf 'caf\xe9 \xef\xf0\xe8\xe2\xe5\xf2 \xb9\n' > in.txt
program=$(printf 'Z:%s' "$BIN/dorvex.exe" | tr / '\\')
input=$(printf 'Z:%s' "$PWD/in.txt" | tr / '\\')
for page in 866 1252 65001; do
  printf '%-6s' "$page"
  # The terminal's cursor movements become the blanks they stand for; the rest of its control
  # sequences go.
  LC_ALL=C.UTF-8 script -qec "'$DORVEX_WINE' cmd /c 'chcp $page >nul & $program -s cp1251 $input'" /dev/null |
    perl -pe 's/\e\[(\d*)C/" " x ($1 || 1)/ge; s/\e\[[0-9;?]*[A-Za-z]//g; s/\e\][^\a]*\a//g; s/\r//g'
done
"$DORVEX" -s cp1251 in.txt | od -An -tx1
