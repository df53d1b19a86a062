# Started through PATH from a folder that holds its own dorvex.rc and charsets/, dorvex takes its
# configuration and tables from beside the executable, never from the current directory.
mkdir -p folder/charsets
printf "this is not = a configuration\n" > folder/dorvex.rc
printf "0x41 0x0042\n" > folder/charsets/cp866.txt
printf "0041 \"[hostile]\"\n" > folder/charsets/ascii.spc
printf "unknown_char = *\n" > "$BIN/dorvex.rc"
printf "A\xe4\xb8\x80\n" > folder/in.txt
cd folder || exit 1
PATH="$BIN:$PATH" dorvex -V
PATH="$BIN:$PATH" dorvex -u in.txt; echo "status $?"
PATH="$BIN:$PATH" dorvex -l > list.txt; head -n 2 list.txt
# An empty HOME is no directory to search: the folder's dorvex.rc is still not read.
HOME= PATH="$BIN:$PATH" dorvex -u in.txt; echo "status $?"
# A broken system file is reported under its real path.
printf "format tex\n" > "$BIN/dorvex.rc"
PATH="$BIN:$PATH" dorvex -V; echo "status $?"
