"$DORVEX" -V -f nosuch
