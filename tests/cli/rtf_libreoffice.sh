# Two documents saved as RTF by LibreOffice (sources beside them in tests/data/good): the words
# come out, font table, colour table, style sheet and information group do not.
"$DORVEX" -d utf-8 "$DATA/good/lo_letter.rtf" "$DATA/good/lo_table.rtf"
