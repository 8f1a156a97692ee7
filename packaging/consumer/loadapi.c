/* Built with `pkg-config --cflags --libs vornapi`: links the live library and loads it again at
 * run time by the file that the package names (its `library` variable), then checks that both
 * roads reach the same library.
 *
 *   loadapi LIBRARY_FILE
 */
#include <dlfcn.h>
#include <stdio.h>

#include "vornintf.h"

typedef const char*(VN_STDCALL* ErrorMessageProc)(int32_t Code);

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s LIBRARY_FILE\n", argv[0]);
    return 2;
  }
  const char* linked = vnGetErrorMessage(0);
  void* handle = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  ErrorMessageProc errorMessage = (ErrorMessageProc)dlsym(handle, "vnGetErrorMessage");
  if (!errorMessage) {
    fprintf(stderr, "%s exports no vnGetErrorMessage\n", argv[1]);
    return 1;
  }
  const char* loaded = errorMessage(0);
  printf("vnGetErrorMessage(0) = %s\n", loaded);
  /* The text is the library's own constant: one address means one library. */
  if (!loaded || loaded != linked) {
    fprintf(stderr, "the loaded library is not the linked one\n");
    return 1;
  }
  dlclose(handle);
  return 0;
}
