# LibreOffice writes footnotes as {\*\footnote ...}: their text is kept where the note stands.
"$DORVEX" -d utf-8 "$DATA/good/lo_footnotes.rtf"
