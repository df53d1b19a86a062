# The install, as the release ZIP holds it: dorvex.exe with charsets\ beside it, and the
# documents; the program installed so finds its data from any current directory.
# Its line ends are turned into LF here, as line_ends checks them.
"$CMAKE" --install "$BUILD" --prefix "$WORK/zip" >/dev/null || exit 1
(cd "$WORK/zip" && find . -type f | grep -v '^./charsets/' | sort)
ls "$WORK/zip/charsets" | wc -l
ls "$BIN/charsets" | wc -l
printf 'caf\xe9\n' > in.txt
"$DATA/../../tools/wine-run-lf" "$WORK/zip/dorvex.exe" -d utf-8 in.txt; echo "status $?"
"$DATA/../../tools/wine-run-lf" "$WORK/zip/dorvex.exe" -l > list.txt; head -n 2 list.txt
