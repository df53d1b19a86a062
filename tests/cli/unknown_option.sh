cd "$BIN" && exec -a dorvex ./dorvex -z
