/* Every export of the interface as a weak stub answering 0; FakeAPI.cpp's own definitions
   take their place. Kept apart from vornintf.h so one stub can stand for every signature. */

__attribute__((visibility("hidden"))) int FakeStub(void) { return 0; }

#define VN_EXPORT(name) \
  __asm__(".weak " #name "\n\t.type " #name ", @function\n\t.set " #name ", FakeStub");
#include "vornexports.inc"
