# Lists of the XML documents: WordprocessingML numbering at nine levels (the formats, what
# follows each label, legal numbering, a level never restarted, start and level overrides of
# an instance counting on with the others of its definition, lists from a style and its base,
# a list taken off, definitions and instances that do not exist, a level from no level, a list
# in a cell and in a footnote counting on its own), and OpenDocument list styles at nine
# levels (shown levels, prefixes and suffixes, bullets, none), restarts, items starting at a
# value, lists continued by numbering and by name, a list header, outline-numbered headings.
"$DORVEX" -d utf-8 -m 0 "$DATA/good/xdoc_lists.docx"
"$DORVEX" -d utf-8 -m 0 "$DATA/good/xdoc_lists.odt"
# The flat document holds the same styles where the text reads them.
"$DORVEX" -d utf-8 -m 0 "$DATA/good/xdoc_lists.odt" | cmp - <("$DORVEX" -d utf-8 -m 0 "$DATA/good/xdoc_lists.fodt") && echo "flat: the same"
