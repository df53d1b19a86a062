# A directory named as an input is reported with its name, as on POSIX systems; status 1, and
# the other inputs are read.
printf 'text\n' > in.txt
mkdir dir
"$DORVEX" dir in.txt; echo "status $?"
"$DORVEX" in.txt dir; echo "status $?"
