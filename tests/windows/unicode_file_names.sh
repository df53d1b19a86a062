# File names in any script: the command line is read as Unicode and files are opened by their
# Unicode names; messages and records name a file as it was typed (in UTF-8). The program itself
# may live in a folder whose name is not in the ANSI code page.
printf 'Привет, мир\n' > 'Отчёт 2019.txt'
printf '{\\rtf1\\ansi \\u25253?\\u21578? r\\u233?sum\\u233?\\par}' > '報告.rtf'
"$DORVEX" -d utf-8 'Отчёт 2019.txt' '報告.rtf'; echo "status $?"
"$DORVEX" -d utf-8 'Нет такого.doc'; echo "status $?"
printf '%s\n' 'Отчёт 2019.txt' '報告.rtf' 'Ελληνικά.txt' > list.txt
"$DORVEX" --json --files-from list.txt | sed 's/"ms":[0-9.e+-]*/"ms":0/'; echo "status $?"
cp -r "$BIN" "$WORK/Программы 程序"
"$WORK/Программы 程序/dorvex" -d koi8-r 'Отчёт 2019.txt' | od -An -tx1; echo "status $?"
