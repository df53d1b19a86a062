// The failure of one input that the readers find only while reading it: a message that names
// the input, so that a run over many files says which one failed.
#ifndef DORVEX_INPUTFAIL_H
#define DORVEX_INPUTFAIL_H

namespace dorvex {

// Writes "dorvex: NAME: WHAT" to standard error.
void report_input_failure(const char* name, const char* what);

}  // namespace dorvex

#endif  // DORVEX_INPUTFAIL_H
