# A compound file on a pipe is copied to a temporary file; a pipe that delivers more than a
# container can hold (2 GiB) is not one: message, status 1. Zeros cost no disk in the copy.
{ cat "$DATA/good/word97_letter.doc"; head -c 2200000000 /dev/zero; } | "$DORVEX" -
