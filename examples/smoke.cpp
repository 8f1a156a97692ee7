// Loads the client library the way an application does and reports what it offers.
#include <dlfcn.h>

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
  const std::string library = argc > 1 ? argv[1] : "./libvornapi.so";
  void* handle = dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "cannot load %s: %s\n", library.c_str(), dlerror());
    return 1;
  }
  using ErrorMessageProc = const char* (*)(int);
  if (auto errorMessage = reinterpret_cast<ErrorMessageProc>(dlsym(handle, "vnGetErrorMessage")))
    std::printf("vnGetErrorMessage(0) = %s\n", errorMessage(0));
  else
    std::printf("%s loaded\n", library.c_str());
  dlclose(handle);
  return 0;
}
