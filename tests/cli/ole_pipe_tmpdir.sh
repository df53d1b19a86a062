# The temporary copy of a piped compound file is made in TMPDIR.
mkdir tmp
cat "$DATA/good/word97_letter.doc" | TMPDIR="$WORK/run/tmp" "$DORVEX" -d utf-8 - | head -n 1
echo "-- TMPDIR missing"
cat "$DATA/good/word97_letter.doc" | TMPDIR="$WORK/run/none" "$DORVEX" -d utf-8 -
