/* extract_memory: reads documents into memory and extracts their text through libdorvex.
 *
 *   extract_memory [-c DATA_DIR] [-r ROUNDS] [-q] FILE...
 *
 * Each file is read whole into memory, then extracted from there as UTF-8 without wrapping (the
 * text of "dorvex -d utf-8 -w FILE"): the text goes to standard output, the messages to standard
 * error. -c names the directory of the charset tables and format maps (default: where the library
 * was installed to look). -r extracts all files ROUNDS times and -q writes no text: together they
 * time the library alone, the time of the rounds (wall clock and CPU) goes to standard error. The exit status is the
 * last document's, as the program's.
 *
 *   cc extract_memory.c $(pkg-config --cflags --libs dorvex) -o extract_memory
 */
#include <dorvex.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

struct buffer {
  unsigned char* data;
  size_t size;
};

/* The whole file, or a buffer with a null data pointer after a message. */
static struct buffer read_whole(const char* path) {
  struct buffer b = {NULL, 0};
  FILE* f = fopen(path, "rb");
  if (!f) {
    perror(path);
    return b;
  }
  size_t capacity = 0;
  for (;;) {
    if (b.size == capacity) {
      size_t grown = capacity ? capacity * 2 : 65536;
      unsigned char* p = realloc(b.data, grown);
      if (!p) {
        fprintf(stderr, "%s: out of memory\n", path);
        break;
      }
      b.data = p;
      capacity = grown;
    }
    size_t n = fread(b.data + b.size, 1, capacity - b.size, f);
    b.size += n;
    if (n == 0) {
      if (ferror(f)) perror(path);
      if (!ferror(f) && b.data) {
        fclose(f);
        return b;
      }
      break;
    }
  }
  free(b.data);
  b.data = NULL;
  fclose(f);
  return b;
}

static double seconds(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int usage(void) {
  fputs("usage: extract_memory [-c DATA_DIR] [-r ROUNDS] [-q] FILE...\n", stderr);
  return 2;
}

int main(int argc, char** argv) {
  const char* data_dir = NULL;
  long rounds = 1;
  int quiet = 0;
  int first = 1;
  for (; first < argc && argv[first][0] == '-'; ++first) {
    if (!strcmp(argv[first], "-c") && first + 1 < argc) {
      data_dir = argv[++first];
    } else if (!strcmp(argv[first], "-r") && first + 1 < argc) {
      char* end = NULL;
      rounds = strtol(argv[++first], &end, 10);
      if (*end != '\0' || rounds < 1) return usage();
    } else if (!strcmp(argv[first], "-q")) {
      quiet = 1;
    } else {
      return usage();
    }
  }
  if (first == argc) return usage();

  dorvex_options* options = dorvex_options_new();
  if (!options) return 1;
  dorvex_options_set(options, "wrap_margin", "0");
  if (data_dir) {
    dorvex_options_set(options, "charset_path", data_dir);
    dorvex_options_set(options, "map_path", data_dir);
  }
  dorvex_extractor* extractor = dorvex_extractor_new(options);
  dorvex_options_free(options);
  if (!extractor) return 1;
  if (dorvex_extractor_code(extractor) != DORVEX_OK) {
    fprintf(stderr, "extract_memory: %s\n", dorvex_extractor_message(extractor));
    dorvex_extractor_free(extractor);
    return 1;
  }

  int count = argc - first;
  struct buffer* files = calloc((size_t)count, sizeof *files);
  if (!files) return 1;
  int status = 0;
  for (int i = 0; i < count; ++i) {
    files[i] = read_whole(argv[first + i]);
    if (!files[i].data) status = 1;
  }

  double start = seconds();
  clock_t cpu_start = clock();
  for (long round = 0; round < rounds; ++round) {
    for (int i = 0; i < count; ++i) {
      if (!files[i].data) continue;
      dorvex_result* r =
          dorvex_extract_memory(extractor, files[i].data, files[i].size, argv[first + i]);
      if (!r) {
        fputs("extract_memory: out of memory\n", stderr);
        status = 1;
        continue;
      }
      if (round == 0) {
        if (!quiet) fwrite(r->text, 1, r->text_size, stdout);
        for (size_t m = 0; m < r->message_count; ++m) fprintf(stderr, "%s\n", r->messages[m]);
      }
      status = r->status;
      dorvex_result_free(r);
    }
  }
  if (rounds > 1) {
    fprintf(stderr, "extract_memory: %d files x %ld rounds in %.3f s (%.3f s of CPU)\n", count,
            rounds, seconds() - start, (double)(clock() - cpu_start) / CLOCKS_PER_SEC);
  }

  for (int i = 0; i < count; ++i) free(files[i].data);
  free(files);
  dorvex_extractor_free(extractor);
  if (fflush(stdout) != 0) return 1;
  return status;
}
