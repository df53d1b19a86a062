"$DORVEX" -V -l
