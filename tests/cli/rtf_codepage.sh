# A code page named by one document stays the source charset's name for the next: there
# \ansicpg1200 (no table of its own) reloads cp1252, while the first escape still goes through
# the start-up table (cp1251).
printf '{\\rtf1\\ansi\\ansicpg1252 caf\\'"'"'e9\\par}' > a.rtf
printf '{\\rtf1 \\'"'"'e9\\ansicpg1200 \\'"'"'e9\\par}' > b.rtf
"$DORVEX" -d utf-8 a.rtf b.rtf
# -s fixes the charset: the document cannot switch it.
"$DORVEX" -s cp1251 -d utf-8 a.rtf
