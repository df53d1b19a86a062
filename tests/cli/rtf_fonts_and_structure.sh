# Text in fonts with their own code pages (8-bit and double-byte, tables found beside the
# executable), then binary data, a table with a nested cell, a line break, \* in mid-group and
# the destinations that are text (field result, footnote) or not (field instruction, \tc).
"$DORVEX" -d utf-8 -w "$DATA/good/rtf_fonts.rtf"
"$DORVEX" -d utf-8 "$DATA/good/rtf_structure.rtf"
