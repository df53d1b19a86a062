# Word 6/95 autonumbering: numbered paragraphs counted in sequences that a plain paragraph or a
# change of form ends, bullets from the symbol font (in the paragraph or its style), outline
# levels that restart the levels below (a list that another paragraph ends, started again with
# its first starts), levels showing the levels above, and text before and after the number.
# The same labels for a document read by its text range and one with a piece table.
"$MKFIXTURE" word6 lists.doc "$DATA/good/word6_lists.txt" --lists
"$DORVEX" -d utf-8 -m 0 lists.doc
"$MKFIXTURE" word6 complex.doc "$DATA/good/word6_lists.txt" --lists --complex --pieces=3
"$DORVEX" -d utf-8 -m 0 lists.doc | cmp - <("$DORVEX" -d utf-8 -m 0 complex.doc 2>/dev/null) && echo "same with a piece table"
