# The LibreOffice-made lists of cli/word_libreoffice_lists saved as Office Open XML and as
# OpenDocument: the same labels as the Word 97 document, but where the formats say what follows
# a label (LibreOffice writes nothing after the labels of its Word files).
"$DORVEX" -d utf-8 -m 0 "$DATA/good/lo_lists.docx"; echo "status $?"
"$DORVEX" -d utf-8 -m 0 "$DATA/good/lo_lists.odt"; echo "status $?"
