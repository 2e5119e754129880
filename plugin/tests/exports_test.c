/* The query exports of DevKV70.so as a C host sees them: loaded with dlopen, looked up
 * by name, called with C types. Usage: exports_c_test <path of DevKV70.so>. Prints one
 * line per failed check; the exit code is the number of failures. */
#include <dlfcn.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef int32_t (*GetNumberOperationsFn)(void);
typedef uint8_t (*GetTextFn3)(int32_t, char*, uint32_t);
typedef int32_t (*GetNumberOfPagesFn)(int32_t);
typedef uintptr_t (*GetPageFn)(int32_t, int32_t);
typedef uint8_t (*GetTextFn)(int32_t, int32_t, char*, uint32_t);

/* The host's run record, laid out as the plug-in reads it. */
struct RunRecord {
  int32_t comPort;
  int32_t operationIndex;
  void* hostWindow;
  void* cancelEvent;
};
typedef int32_t (*DoOperationFn)(struct RunRecord*);

static int failures = 0;

#define CHECK(cond)                                    \
  do {                                                 \
    if (!(cond)) {                                     \
      printf("FAILED line %d: %s\n", __LINE__, #cond); \
      ++failures;                                      \
    }                                                  \
  } while (0)

static int all_bytes(const char* buffer, size_t from, size_t to, char value) {
  size_t i;
  for (i = from; i < to; ++i) {
    if (buffer[i] != value) return 0;
  }
  return 1;
}

int main(int argc, char** argv) {
  void* module;
  GetNumberOperationsFn count;
  GetTextFn3 getOperation, getDescription;
  GetNumberOfPagesFn pages;
  GetPageFn getPage;
  GetTextFn getText;
  DoOperationFn doOperation;
  char buffer[64];
  int op;

  if (argc != 2) {
    printf("usage: %s DevKV70.so\n", argv[0]);
    return 100;
  }
  module = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    printf("dlopen: %s\n", dlerror());
    return 100;
  }
  count = (GetNumberOperationsFn)dlsym(module, "GetNumberOperations");
  getOperation = (GetTextFn3)dlsym(module, "GetOperation");
  getDescription = (GetTextFn3)dlsym(module, "GetDescription");
  pages = (GetNumberOfPagesFn)dlsym(module, "GetNumberOfPages");
  getPage = (GetPageFn)dlsym(module, "GetPage");
  getText = (GetTextFn)dlsym(module, "GetText");
  doOperation = (DoOperationFn)dlsym(module, "DoOperation");
  if (!count || !getOperation || !getDescription || !pages || !getPage || !getText ||
      !doOperation) {
    printf("missing export\n");
    return 100;
  }

  CHECK(count() == 3);

  /* Names, each zero-filled behind the text. */
  memset(buffer, 'x', sizeof buffer);
  CHECK(getOperation(0, buffer, 40) == 1);
  CHECK(strcmp(buffer, "Software upgrade") == 0);
  CHECK(all_bytes(buffer, 16, 40, '\0'));
  CHECK(all_bytes(buffer, 40, sizeof buffer, 'x'));
  CHECK(getOperation(1, buffer, sizeof buffer) == 1 &&
        strcmp(buffer, "Configuration retrieval") == 0);
  CHECK(getOperation(2, buffer, sizeof buffer) == 1 && strcmp(buffer, "File system dump") == 0);

  /* A buffer shorter than the text gets no terminator and nothing beyond its length. */
  memset(buffer, 'x', sizeof buffer);
  CHECK(getOperation(0, buffer, 5) == 1);
  CHECK(memcmp(buffer, "Softw", 5) == 0);
  CHECK(buffer[5] == 'x');

  /* Refused indexes leave the buffer as it was. */
  memset(buffer, 'x', sizeof buffer);
  CHECK(getOperation(3, buffer, sizeof buffer) == 0);
  CHECK(getOperation(-1, buffer, sizeof buffer) == 0);
  CHECK(getDescription(3, buffer, sizeof buffer) == 0);
  CHECK(getDescription(-1, buffer, sizeof buffer) == 0);
  CHECK(getText(3, 0, buffer, sizeof buffer) == 0);
  CHECK(getText(-1, 1, buffer, sizeof buffer) == 0);
  for (op = 0; op < 3; ++op) {
    CHECK(getText(op, 4, buffer, sizeof buffer) == 0);
    CHECK(getText(op, -1, buffer, sizeof buffer) == 0);
  }
  CHECK(all_bytes(buffer, 0, sizeof buffer, 'x'));

  CHECK(getDescription(1, buffer, sizeof buffer) == 1 &&
        strcmp(buffer, "Reads the configuration information from the KV70.") == 0);

  /* Text 1 keeps its placeholder for the host to fill. */
  {
    char connect[100];
    CHECK(getText(2, 1, connect, sizeof connect) == 1);
    CHECK(strcmp(connect,
                 "Connect the KV70 (top or bottom port) to COM%d of the PC using the "
                 "DB9 cable.") == 0);
  }
  CHECK(getText(0, 2, buffer, sizeof buffer) == 1 && strcmp(buffer, "software upgrade") == 0);

  /* Pages: 1, 0, 1, the same object every time, nothing beyond the count. */
  CHECK(pages(0) == 1);
  CHECK(pages(1) == 0);
  CHECK(pages(2) == 1);
  CHECK(pages(3) == 0);
  CHECK(pages(-1) == 0);
  CHECK(getPage(0, 0) != 0);
  CHECK(getPage(0, 0) == getPage(0, 0));
  CHECK(getPage(2, 0) != 0);
  CHECK(getPage(2, 0) != getPage(0, 0));
  CHECK(getPage(1, 0) == 0);
  CHECK(getPage(0, 1) == 0);
  CHECK(getPage(0, -1) == 0);
  CHECK(getPage(3, 0) == 0);

  /* A run with a port outside COM1..COM6 does nothing and fails. */
  {
    struct RunRecord record = {0, 0, NULL, NULL};
    CHECK(doOperation(&record) == 0);
    record.comPort = 7;
    CHECK(doOperation(&record) == 0);
    record.comPort = 1;
    record.operationIndex = 3;
    CHECK(doOperation(&record) == 0);
  }

  dlclose(module);
  if (failures == 0) printf("all checks passed\n");
  return failures;
}
