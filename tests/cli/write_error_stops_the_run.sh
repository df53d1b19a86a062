# With SIGPIPE ignored (as some job runners leave it), a reader that goes away ends the run at
# once: one message, status 1, for endless plain text, RTF and random bytes alike.
trap '' PIPE
elapsed_ms() { echo $(( ($(date +%s%N) - $1) / 1000000 )); }
t0=$(date +%s%N)
yes 'plain text, line after line' 2>/dev/null | timeout 5 "$DORVEX" - | head -c 10 >/dev/null
echo "plain: status ${PIPESTATUS[1]}"
(printf '{\\rtf1 '; yes 'some words of a paragraph\par' 2>/dev/null) | timeout 5 "$DORVEX" -d utf-8 - | head -c 10 >/dev/null
echo "rtf: status ${PIPESTATUS[1]}"
timeout 5 "$DORVEX" /dev/urandom | head -c 10 >/dev/null
echo "random: status ${PIPESTATUS[0]}"
ms=$(elapsed_ms "$t0")
[ "$ms" -lt 3000 ] && echo "all ended within a second each" || echo "took $ms ms"
