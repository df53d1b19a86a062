printf "\xcf\xf0\xe8\xe2\xe5\xf2\n" > in.txt
# cp1251 in, cp866 out by default.
"$DORVEX" in.txt | od -An -tx1
