# A Word 97 document whose piece table cannot be used is read by its header's text range, as
# before: no table, a table that does not start with 1 or 2, a missing table stream. A property
# entry ahead of the table is skipped. Field instructions are skipped either way; without its
# table, a fast-saved document shows its pieces in storage order with the deleted text.
# Maps of an empty format, so the text shows as it is converted.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
printf 'Kept \x13 PAGEREF _Toc1 \x14\x37\x15 text.\n' > text.txt
m() { "$MKFIXTURE" "$@" || echo "mkfixture failed: $*"; }
m word97 noclx.doc text.txt --no-clx
m word97 badbyte.doc text.txt --clx-byte=7
m word97 notable.doc text.txt --table=XTable
m word97 prc.doc text.txt --prc --pieces=2
m word97 fast.doc text.txt --pieces=3 --flags=0x0014
m word97 storage_order.doc text.txt --pieces=3 --no-clx
for f in noclx badbyte notable prc fast storage_order; do
  echo "-- $f"
  "$DORVEX" -v -f bare -d utf-8 -w $f.doc | grep -a -v -e '^File' -e '^This' -e '^Written' -e '^Lang' -e '^Using' -e '^Found'
  echo "status ${PIPESTATUS[0]}"
done
