# Every construct of the XML readers, one fixture per format (tools/mkxdoc.py): the text by
# content whatever the file's name, from a pipe as from a file, with -v's format and parts.
: > "$BIN/charsets/bare.spc"; : > "$BIN/charsets/bare.rpl"
read_one() {  # label, then dorvex's arguments
  local label=$1; shift
  echo "== $label"
  "$DORVEX" -f bare -d utf-8 "$@"
  echo "== status $?"
}
for f in xdoc_constructs.docx xdoc_constructs.odt xdoc_word2003.xml xdoc_flat_package.xml; do
  read_one "$f" -v "$DATA/good/$f"
done
# The same text from every variant of a format, under names that lie, and from a pipe.
want_docx=$("$DORVEX" -f bare -d utf-8 "$DATA/good/xdoc_constructs.docx")
want_odt=$("$DORVEX" -f bare -d utf-8 "$DATA/good/xdoc_constructs.odt")
cp "$DATA/good/xdoc_constructs.docx" letter.doc
cp "$DATA/good/xdoc_constructs.odt" notes.txt
for f in xdoc_constructs.docm xdoc_constructs.dotx xdoc_constructs.dotm @letter.doc \
         '<xdoc_constructs.docx'; do
  case $f in
    @*) got=$("$DORVEX" -f bare -d utf-8 "${f#@}") ;;
    '<'*) got=$(cat "$DATA/good/${f#<}" | "$DORVEX" -f bare -d utf-8) ;;
    *) got=$("$DORVEX" -f bare -d utf-8 "$DATA/good/$f") ;;
  esac
  [ "$got" = "$want_docx" ] && echo "$f: as the .docx" || echo "$f: DIFFERS"
done
for f in xdoc_constructs.ott xdoc_constructs.fodt @notes.txt '<xdoc_constructs.odt' \
         '<xdoc_constructs.fodt'; do
  case $f in
    @*) got=$("$DORVEX" -f bare -d utf-8 "${f#@}") ;;
    '<'*) got=$(cat "$DATA/good/${f#<}" | "$DORVEX" -f bare -d utf-8) ;;
    *) got=$("$DORVEX" -f bare -d utf-8 "$DATA/good/$f") ;;
  esac
  [ "$got" = "$want_odt" ] && echo "$f: as the .odt" || echo "$f: DIFFERS"
done
# Unwrapped, and through the default ascii maps: cells as tabs, the soft hyphen gone.
read_one "docx -w ascii" -w -a "$DATA/good/xdoc_constructs.docx"
