# Hostile XML documents end with a message and status 1, in bounded memory and time: a zip bomb
# (200 MB of one member in 200 KB), a billion laughs (entities nine deep), 100,000 nested
# elements; and damaged packages (cut short, a hole in the main part), from a file and a pipe.
gen() { /usr/bin/python3 "$DATA/../../tools/mkxdoc.py" "$@"; }
gen zipbomb bomb.docx
gen laughs laughs.xml
gen deep deep.fodt
head -c 3000 "$DATA/good/xdoc_constructs.docx" > cut.docx
cp "$DATA/good/xdoc_constructs.odt" holed.odt
chmod u+w holed.odt
dd if=/dev/zero of=holed.odt bs=1 seek=200 count=100 conv=notrunc status=none
# Sanitizer builds reserve far more address space than they use.
# (Wine, which runs the Windows program in the tests, reserves more than the limit by itself.)
[ -n "${DORVEX_WINE:-}" ] || grep -q __asan_init "$DORVEX" || ulimit -v 262144
for f in bomb.docx laughs.xml deep.fodt cut.docx holed.odt; do
  timeout 20 "$DORVEX" -d utf-8 "$f" > out.txt
  echo "$f: status $?, $(wc -l < out.txt) lines"
  timeout 20 "$DORVEX" -d utf-8 < "$f" > /dev/null
  echo "$f from a pipe: status $?"
done
# A record names the kind of failure: a limit the reader keeps to, or a damaged package.
"$DORVEX" --json bomb.docx laughs.xml deep.fodt cut.docx holed.odt 2>&1 |
  grep -o '"path":"[^"]*"\|"error":[^,]*' | paste -d' ' - -
