# Started with descriptor 1 closed, a piped compound file is copied to a temporary file: that copy
# must not become standard output, whose 256 KiB buffer would then be written into it while it
# is parsed. Standard output goes to /dev/null instead: the document converts cleanly, status 0.
for i in $(seq 6000); do echo "Paragraph $i of a document long enough to fill the output buffer."; done > text.txt
"$MKFIXTURE" word97 doc.doc text.txt
cat doc.doc | "$DORVEX" - >&-; echo "status $?" >&2
# The same document with standard input closed as well, named on the command line.
"$DORVEX" doc.doc <&- >&-; echo "status $?" >&2
# And what it converts to, for comparison: the same line count as the text.
"$DORVEX" -w < doc.doc | grep -c Paragraph
