# The build installs to any prefix, as any user, and the installed tree finds its data from
# wherever it is, also after it has been moved, run through PATH from a hostile folder.
"$CMAKE" --install "$BUILD" --prefix "$WORK/prefix" > /dev/null || echo "install failed"
cd "$WORK/prefix" || exit 1
for f in bin/dorvex share/dorvex/charsets/cp1251.txt share/dorvex/charsets/ascii.rpl \
    share/man/man1/dorvex.1 share/doc/dorvex/LICENSE share/doc/dorvex/dorvex.rc.example; do
  [ -f "$f" ] && echo "installed $f"
done
mv "$WORK/prefix" "$WORK/moved"
mkdir -p "$WORK/folder/charsets"
printf "format = nowhere\n" > "$WORK/folder/dorvex.rc"
cd "$WORK/folder" || exit 1
printf "caf\xe9\n" > in.txt
PATH="$WORK/moved/bin:$PATH" dorvex -s cp1252 -d utf-8 in.txt; echo "status $?"
PATH="$WORK/moved/bin:$PATH" dorvex -l | head -n 2
