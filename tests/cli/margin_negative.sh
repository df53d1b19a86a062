"$DORVEX" -m -5
