#!/bin/sh
# Formats the manual page with every warning on; any warning fails the test.
# Usage: lint_man_page.sh GROFF PAGE
out=$("$1" -man -ww -z "$2" 2>&1)
[ -z "$out" ] && exit 0
printf '%s\n' "$out"
exit 1
