# No file names and standard input a terminal: the usage text, status 0.
script -qec "\"$DORVEX\"; echo \"status \$?\"" /dev/null | tr -d '\r'
