# A stream of 32 million "{" on standard input: nesting beyond the reader's depth limit opens no
# more group records, so the document is read in a fixed amount of memory and its text is kept.
braces() { printf '{\\rtf1 '; yes '{' | head -c 64000000; printf 'end'; }
# Sanitizer builds reserve more address space than any small limit allows; they run unlimited.
if (ulimit -v 100000 && "$DORVEX" -V >/dev/null 2>&1) 2>/dev/null; then
  braces | (ulimit -v 100000 && "$DORVEX" -w -)
else
  braces | "$DORVEX" -w -
fi
