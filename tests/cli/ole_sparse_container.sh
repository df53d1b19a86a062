# A sparse compound file of 2.1 GB, 2 KB of it on disk, whose tables claim what a hostile file
# can: the directory and the SBD loop on one sector each, and 4,000,000 BBD sectors (all sector
# 0) are listed by an MSAT sector that links to itself. No WordDocument: refused, status 69, in a few MB.
put() { printf "$2" | dd of=sparse.doc bs=1 seek="$1" conv=notrunc status=none; }
le32() { printf '\\x%02x\\x%02x\\x%02x\\x%02x' $(($1 & 255)) $(($1 >> 8 & 255)) $(($1 >> 16 & 255)) $(($1 >> 24 & 255)); }
truncate -s 2560 sparse.doc
put 0 '\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1'
put 30 '\x09\x00\x06\x00'
put 44 "$(le32 4000000)$(le32 1)"            # BBD sectors; directory at sector 1
put 60 "$(le32 2)"                            # SBD at sector 2
put 68 "$(le32 3)$(le32 0x7fffffff)"          # MSAT sectors from sector 3
put 512 "$(le32 -3)$(le32 1)$(le32 2)"        # BBD: 1 -> 1, 2 -> 2
put 1024 'R\x00o\x00o\x00t\x00 \x00E\x00n\x00t\x00r\x00y\x00'
put 1088 '\x16\x00\x05'
put 1140 "$(le32 -2)"
for e in 1 2 3; do put $((1024 + 128 * e + 66)) '\x01'; done
put $((2048 + 508)) "$(le32 3)"               # the MSAT sector links to itself
truncate -s 2100000000 sparse.doc
# Sanitizer builds reserve far more address space than they use.
# (Wine, which runs the Windows program in the tests, reserves more than the limit by itself.)
[ -n "${DORVEX_WINE:-}" ] || grep -q __asan_init "$DORVEX" || ulimit -v 65536
"$DORVEX" sparse.doc
