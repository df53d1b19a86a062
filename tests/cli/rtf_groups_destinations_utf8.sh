# RTF snippets, one per line: a group boundary stores nothing, nothing inside a destination that
# is not text reaches the output (controls included), and \ansicpg65001 text is UTF-8, whose
# characters may run on through escapes and literal bytes. Source cp1252 (from the configuration,
# as -s would also fix the documents' code pages), target UTF-8.
printf 'source_charset = cp1252\n' > "$HOME/dorvex.rc"
run() {  # label, RTF body (printf escapes: \\ a backslash, \xNN a byte)
  printf '%s\n' "$1"
  printf "{\\\\rtf1\\\\ansi $2}" > in.rtf
  "$DORVEX" -d utf-8 -w in.rtf
  echo "[status $?]"
}
run "word split by a group" 'un{\\b bold}ed\\par'
run "group after a paragraph" 'one\\par {\\i two} three\\par'
run "link field" '{\\field{\\*\\fldinst HYPERLINK "x"}{\\fldrslt link}} to\\par'
run "hidden group with \\par" 'A{\\*\\htmltag1 \\par \\par }B\\par'
run "controls in a font table" '{\\fonttbl{\\f0 Arial\\tab\\emdash\\line;}}A\\par'
run "controls in info" '{\\info{\\title T\\par\\~\\u233?\\cell}}B\\par'
run "\\tc entry" 'C{\\tc entry\\par}D\\par'
run "list label stays" '{\\listtext 1.\\tab}item\\par'
run "cp1252 default" "caf\\\\'e9\\\\par"
run "UTF-8 escapes" "\\\\ansicpg65001 caf\\\\'c3\\\\'a9\\\\par"
run "UTF-8 literal bytes" '\\ansicpg65001 na\xc3\xafve\\par'
run "UTF-8 escape then byte" "\\\\ansicpg65001 \\\\'e2\\x82\\\\'ac\\\\par"
run "UTF-8 four bytes" "\\\\ansicpg65001 \\\\'f0\\\\'9f\\\\'98\\\\'80!\\\\par"
run "UTF-8 ill-formed" "\\\\ansicpg65001 caf\\xe9 na\\xefve \\\\'e2\\\\'82x\\\\par"
run "UTF-8 cut by a group" "\\\\ansicpg65001 a\\\\'c3{}b\\\\par"
run "code page without table" "\\\\ansicpg1234 caf\\\\'e9\\\\par\\\\ansicpg4321 x\\\\par"
