cd "$BIN" && exec -a dorvex ./dorvex -m
