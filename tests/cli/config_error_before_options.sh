# A broken system file ends the program before any option, even -V.
printf "# comment\n\nformat tex\n" > "$BIN/dorvex.rc"
"$DORVEX" -V
