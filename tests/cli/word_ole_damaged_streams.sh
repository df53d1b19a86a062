# Damage inside the container: looped chains, a link out of range, a cut file, a long name.
# Each is read as far as it goes; none hangs or crashes.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
for i in $(seq 1 400); do echo "Paragraph $i."; done > long.txt
echo 'Short text.' > short.txt
m() { "$MKFIXTURE" "$@" || echo "mkfixture failed: $*"; }
m word97 loopdir.doc short.txt --loop-dir
m word97 loopsbd.doc short.txt --loop-sbd
m word97 badlink.doc long.txt --bad-link=0x40000000
m word97 badshort.doc short.txt --bad-link=0x40000000 --size=3000
m word97 cut.doc long.txt --truncate=2000
m word97 longname.doc short.txt --name-len=300
for f in loopdir loopsbd badlink badshort cut longname; do
  echo "-- $f"
  "$DORVEX" -f bare -d utf-8 -m 0 $f.doc > out.txt; echo "status $?"
  head -1 out.txt; tail -1 out.txt
done
