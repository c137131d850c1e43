// Loaded with LD_PRELOAD by the tests that run a program as on a host without ICU: dlopen of
// ICU's common library fails as it does where the library is missing (with the loader's own
// message), every other dlopen goes on as usual.
#include <dlfcn.h>

#include <cstring>

extern "C" void* dlopen(const char* file, int mode) {
  using Open = void* (*)(const char*, int);
  static const Open next = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "dlopen"));
  if (file != nullptr && std::strstr(file, "libicuuc") != nullptr) return next("/nonexistent/libicuuc.so", mode);
  return next(file, mode);
}
