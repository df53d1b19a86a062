# A directory or an input whose read fails is reported with its name; its status is 1.
printf "text\n" > in.txt
mkdir dir
"$DORVEX" dir in.txt; echo "status $?"
"$DORVEX" in.txt dir; echo "status $?"
# Reading /proc/self/mem at offset 0 fails with EIO.
"$DORVEX" in.txt /proc/self/mem; echo "status $?"
"$DORVEX" - < dir; echo "status $?"
"$DORVEX" - in.txt < dir; echo "status $?"
