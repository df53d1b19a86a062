# A Word 97 document saved by LibreOffice with nested numbered lists, bullets, outline-numbered
# headings, a list started again at 1 (which LibreOffice stores as an override of level 0 with
# the list counting on after it), a list continued across a paragraph, and one starting at IV.
# LibreOffice says that nothing follows its labels.
"$DORVEX" -d utf-8 -m 0 "$DATA/good/lo_lists.doc"; echo "status $?"
