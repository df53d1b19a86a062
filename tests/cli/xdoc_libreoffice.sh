# A document LibreOffice wrote as .docx and .odt from one flat source (good/lo_xdoc.fodt):
# accented Latin, Cyrillic and Greek, a footnote, a comment, a hyperlink, a table, a list, a
# header and a footer, the same text from each, read by content also under another name.
for f in lo_xdoc.fodt lo_xdoc.odt lo_xdoc.docx; do
  echo "== $f"
  "$DORVEX" -d utf-8 "$DATA/good/$f"
  echo "== status $?"
done
cp "$DATA/good/lo_xdoc.docx" letter.rtf
"$DORVEX" -d utf-8 -w letter.rtf | head -n 3
