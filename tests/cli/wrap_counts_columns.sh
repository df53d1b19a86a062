# Wrapping counts columns: a character one, an East Asian wide character two, a combining mark
# none, whatever the target; text without spaces breaks between wide characters; a forced break
# never divides a character or a -x escape. Each case: UTF-8 RTF text, a margin, a target.
run() {  # label, margin, target, text, [more options]
  printf '== %s (margin %s, %s)\n' "$1" "$2" "$3"
  printf '{\\rtf1\\ansi\\ansicpg65001 %s\\par}' "$4" > in.rtf
  "$DORVEX" -m "$2" -d "$3" $5 in.rtf
}
cyr='Съешь же ещё этих мягких французских булок, да выпей чаю'
run "Cyrillic" 20 utf-8 "$cyr"
run "Cyrillic" 20 koi8-r "$cyr"
run "Cyrillic" 36 utf-8 "$cyr"
run "Greek" 15 utf-8 'Ξεσκεπάζω την ψυχοφθόρα βδελυγμία'
run "Greek" 15 8859-7 'Ξεσκεπάζω την ψυχοφθόρα βδελυγμία'
run "Chinese without spaces" 10 utf-8 '我能吞下玻璃而不伤身体。我能吞下玻璃'
run "Japanese with Latin words" 12 utf-8 'いろはにほへと ABC ちりぬるを わかよたれそ'
run "combining marks" 10 utf-8 'cafe'$'\xcc\x81'' cafe'$'\xcc\x81'' cafe'$'\xcc\x81'' cafe'$'\xcc\x81'
run "wide characters, margin 1" 1 utf-8 '日本'
run "-x escapes" 10 koi8-r 'ab こんにちは' -x
run "-x escapes, margin 4" 4 koi8-r 'aこb' -x
run "Latin" 10 utf-8 'aaaa bbbb cccc dddddddddddddddddddddddd'
