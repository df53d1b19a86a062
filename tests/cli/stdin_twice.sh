printf "from stdin\n" | "$DORVEX" -d utf-8 - - never.txt
