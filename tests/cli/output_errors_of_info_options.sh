# The version, the charset list and the help text fail like a conversion when their output is lost.
for opt in -V --version -l --help; do
  "$DORVEX" $opt > /dev/full; echo "$opt status $?"
done
"$DORVEX" --help | head -n 3; echo "--help status ${PIPESTATUS[0]}"
"$DORVEX" --version
