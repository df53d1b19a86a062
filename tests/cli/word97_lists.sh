# Word 97 lists: nine levels in nine formats, with what follows each label, legal numbering,
# a level that is never restarted, an override that starts a level again and one that formats
# it anew, a list from the paragraph's style and one taken off by the paragraph, a format
# outside the model (in decimal) and an override that does not exist. The same labels whether
# the text is 8-bit or 16-bit, in one piece or in several stored out of order.
"$MKFIXTURE" word97 lists.doc "$DATA/good/word97_lists.txt" --lists
"$DORVEX" -d utf-8 -m 0 lists.doc
for options in "--16bit" "--pieces=5" "--16bit --pieces=4 --mixed"; do
  "$MKFIXTURE" word97 other.doc "$DATA/good/word97_lists.txt" --lists $options
  "$DORVEX" -d utf-8 -m 0 lists.doc | cmp - <("$DORVEX" -d utf-8 -m 0 other.doc) && echo "same with $options"
done
# -b reads the bytes as they are: no labels.
"$DORVEX" -b -d utf-8 -m 0 lists.doc | grep -c "First level$"
