/* dorvex.h: the text of word-processor documents, as values.
 *
 * Plain C, usable from C, C++ and any language with a C foreign-function interface (Python's
 * ctypes or cffi, Go, Rust). Three kinds of object, each made, used and freed by its owner:
 *
 *   dorvex_options    settings, as the command line and the configuration files give them
 *   dorvex_extractor  the tables and maps those settings name, loaded once; read-only after it
 *                     is made, so any number of threads may extract through one extractor at once
 *   dorvex_result     one document's text, format, status, error class, messages and metadata
 *
 *     dorvex_options* o = dorvex_options_new();
 *     dorvex_options_set(o, "wrap_margin", "0");
 *     dorvex_extractor* x = dorvex_extractor_new(o);
 *     if (dorvex_extractor_code(x) != DORVEX_OK) { puts(dorvex_extractor_message(x)); ... }
 *     dorvex_result* r = dorvex_extract_memory(x, bytes, size, "letter.doc");
 *     fwrite(r->text, 1, r->text_size, stdout);
 *     dorvex_result_free(r); dorvex_extractor_free(x); dorvex_options_free(o);
 *
 * The library keeps no process-wide mutable state: it prints nothing, never exits, and never
 * reads the environment (the program reads the configuration files and the locale and passes
 * what they say). Every function that takes an object pointer accepts NULL and then does nothing
 * (or returns NULL, 0 or an error). No C++ exception crosses this interface.
 */
#ifndef DORVEX_H
#define DORVEX_H

#include <stddef.h>

#ifdef __cplusplus
extern "C" {
#endif

#define DORVEX_VERSION_MAJOR 0
#define DORVEX_VERSION_MINOR 95
#define DORVEX_VERSION_PATCH 0
#define DORVEX_VERSION_STRING "0.95.0"

/* The version of the library linked, as "MAJOR.MINOR.PATCH". */
const char* dorvex_version(void);

/* Codes of the set-up functions (options, configuration files, extractors). */
enum dorvex_code {
  DORVEX_OK = 0,
  DORVEX_ERR_OPTION = 1,  /* an unknown option name, or a value it does not take */
  DORVEX_ERR_CHARSET = 2, /* a charset name that is neither a charset dorvex ships nor an alias */
  DORVEX_ERR_LOAD = 3,    /* a charset table or format map that cannot be found or read */
  DORVEX_ERR_CONFIG = 4,  /* a configuration file with a broken line */
  DORVEX_ERR_MEMORY = 5   /* out of memory */
};

/* What went wrong with one document (dorvex_result.error). */
enum dorvex_error_class {
  DORVEX_ERROR_NONE = 0,
  DORVEX_ERROR_ENCRYPTED = 1,   /* an encrypted document: status 69, no text */
  DORVEX_ERROR_UNSUPPORTED = 2, /* not a document dorvex reads (a compound file without a Word
                                   document, a spreadsheet, an image...): status 69 */
  DORVEX_ERROR_DAMAGED = 3,     /* a broken container or a document that ends before its text:
                                   status 1, the text read so far kept */
  DORVEX_ERROR_READ = 4,        /* the input cannot be opened or read: status 1 */
  DORVEX_ERROR_LIMIT = 5        /* a limit of the reader was reached: status 1 */
};

/* ---- Options ------------------------------------------------------------------------------
 * A new options value holds the library's defaults: target charset "utf-8", source charset
 * "cp1252", format "ascii", wrap margin 72, unknown character "?", formats detected from the
 * content, the decoder chosen by each document, no -x, no -v, no character limit. The data
 * paths default to the "charsets" directory beside the executable that links the library, then
 * the installed data directory; set "charset_path" and "map_path" to look elsewhere.
 */
typedef struct dorvex_options dorvex_options;

/* NULL only when memory runs out. */
dorvex_options* dorvex_options_new(void);
dorvex_options* dorvex_options_copy(const dorvex_options* options);
void dorvex_options_free(dorvex_options* options);

/* Sets one option from its text, as the command line or a configuration file would. Names:
 *
 *   "source_charset"   charset of 8-bit text, as the configuration key (a document that names
 *                      its own code page still uses it)
 *   "forced_source_charset"  the same, as -s: documents no longer switch the charset
 *   "target_charset"   charset of the text in results (-d); "utf-8" needs no table
 *   "format"           output format: the maps <format>.spc and <format>.rpl (-f, -t, -a)
 *   "wrap_margin"      greatest line width; "0" no wrapping (-m, -w). Decimal, 0x hex, 0 octal
 *   "unknown_char"     the character written for one the target lacks, as the configuration
 *                      key takes it
 *   "hex_unknown"      "yes": such characters as \xHHHH (-x)
 *   "unicode"          "auto" (default), "yes" (-u), "no" (-8)
 *   "raw"              "yes": no format detection, every input is raw Word text (-b)
 *   "verbose"          "yes": the Word header's facts in the text (-v)
 *   "charset_path", "map_path"  directory lists, as the configuration keys ("%s" the directory
 *                      of the executable, "~/" the home directory given as "home")
 *   "program_dir"      the directory that "%s" stands for (default: the executable's)
 *   "home"             the directory that "~/" stands for (default: none)
 *   "use_locale"       as the configuration key (kept for the program; the library ignores it)
 *   "max_chars"        stop each document after this many characters of text ("0": no limit)
 *
 * Yes/no values take their first letter, either case. Returns DORVEX_OK, or DORVEX_ERR_OPTION
 * (unknown name, bad value), DORVEX_ERR_CHARSET (a charset name that stands for nothing; the
 * setting is left as it was) or DORVEX_ERR_MEMORY; dorvex_options_message tells why. */
int dorvex_options_set(dorvex_options* options, const char* name, const char* value);

/* The value of an option as text, valid until the option is next set or the options freed;
 * NULL for an unknown name. */
const char* dorvex_options_get(const dorvex_options* options, const char* name);

/* Applies one configuration file ("name = value" lines, as the program's dorvex.rc), if it
 * exists: a missing file changes nothing and returns DORVEX_OK. A "%s" in path stands for the
 * program directory. DORVEX_ERR_CONFIG for a broken line, with the program's message. */
int dorvex_options_read_config(dorvex_options* options, const char* path);

/* Applies the system and then the user configuration file, as the program does at start-up:
 * "%s/dorvex.rc" beside the executable, then "dorvex.rc" along home (if given). */
int dorvex_options_read_default_config(dorvex_options* options, const char* home);

/* The message of the last failed call on options ("" when none). Valid until the next call. */
const char* dorvex_options_message(const dorvex_options* options);

/* ---- Extractors ---------------------------------------------------------------------------- */
typedef struct dorvex_extractor dorvex_extractor;

/* Resolves the charset names and loads the tables and maps the options name. Returns NULL only
 * when memory runs out; otherwise check dorvex_extractor_code: an extractor that failed to load
 * extracts nothing (each extraction returns a result with status 1 and its message). */
dorvex_extractor* dorvex_extractor_new(const dorvex_options* options);
void dorvex_extractor_free(dorvex_extractor* extractor);

/* DORVEX_OK, or the code of what failed while the extractor was made. */
int dorvex_extractor_code(const dorvex_extractor* extractor);
/* The message of that failure ("" when none), as the program would print it. */
const char* dorvex_extractor_message(const dorvex_extractor* extractor);

/* ---- Results ------------------------------------------------------------------------------- */

/* What a document states about itself; NULL where it states nothing. Dates are ISO 8601
 * ("2006-03-01T10:15:00Z"). */
typedef struct dorvex_metadata {
  const char* title;
  const char* subject;
  const char* author;
  const char* keywords;
  const char* created;
  const char* modified;
} dorvex_metadata;

typedef struct dorvex_result {
  /* Exactly what the program writes to standard output for this document, in the target
   * charset, text_size bytes followed by a 0 byte (the text itself may hold 0 bytes). */
  const char* text;
  size_t text_size;
  /* The detected format: "word" (Word 97 and later), "word6" (Word 6/95), "word2" (Word with a
   * plain header), "write", "rtf", "text", "raw" (with "raw" set), or "" when none was found. */
  const char* format;
  int status; /* what the program would exit with: 0, 1 or 69 */
  int error;  /* an enum dorvex_error_class */
  int truncated; /* 1 when max_chars ended the reading */
  /* The lines the program would write to standard error, each without its line end. */
  size_t message_count;
  const char* const* messages;
  dorvex_metadata metadata;
} dorvex_result;

/* Extract one document. name is the document's name in messages (NULL: "stdin"). The memory is
 * read in place and must stay unchanged during the call; fd is read from its current position
 * and not closed. Each returns NULL only when memory runs out, otherwise a result to free with
 * dorvex_result_free. Calls on one extractor may run on many threads at once. */
dorvex_result* dorvex_extract_memory(const dorvex_extractor* extractor, const void* data,
                                     size_t size, const char* name);
dorvex_result* dorvex_extract_path(const dorvex_extractor* extractor, const char* path);
dorvex_result* dorvex_extract_fd(const dorvex_extractor* extractor, int fd, const char* name);

void dorvex_result_free(dorvex_result* result);

#ifdef __cplusplus
}
#endif

#endif /* DORVEX_H */
