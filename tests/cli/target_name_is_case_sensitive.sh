printf "\xc4\xe0\n" > in.txt
# UTF-8 in capitals is no built-in name: ignored, the default target cp866 stays.
"$DORVEX" -d UTF-8 in.txt | od -An -tx1
