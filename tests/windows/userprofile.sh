# Windows sets no HOME: where HOME is unset, the user's dorvex.rc is searched in USERPROFILE (the
# profile directory); where HOME is set, HOME alone is searched.
profile=$("$DORVEX_WINE" cmd /c 'echo %USERPROFILE%' | tr -d '\r')
profile_dir=$("$DORVEX_WINE" winepath -u "$profile" | tr -d '\r')
[ -d "$profile_dir" ] || { echo "no profile directory for $profile"; exit 1; }
trap 'rm -f "$profile_dir/dorvex.rc"' EXIT
printf 'target_charset = utf-8\n' > "$profile_dir/dorvex.rc"
printf 'caf\xe9\n' > in.txt
(unset HOME; "$DORVEX" in.txt | od -An -tx1); echo "HOME unset: status $?"
printf 'target_charset = koi8-r\n' > "$HOME/dorvex.rc"
"$DORVEX" in.txt | od -An -tx1; echo "HOME set: status $?"
rm "$HOME/dorvex.rc"
"$DORVEX" in.txt | od -An -tx1; echo "HOME set, no file there: status $?"
