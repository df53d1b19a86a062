# Found by fuzz_ole: a WordDocument stream that ends before its text start ends the run from
# inside the compound-file road (in fuzzing builds, with the open entry still held).
"$DORVEX" -d utf-8 "$DATA/bad/ole_fatal_end_in_stream.doc"
