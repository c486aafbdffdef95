// Built only by the build-flag tests, which expect the compiler to refuse it:
// GCC would pass the KaString by invisible reference and "%s" would print
// the bytes of a pointer.
#include "osal/ka_string.h"

KaOSAL::KaString Greeting(const KaOSAL::KaString& name) {
  KaOSAL::KaString text;
  text.Format(u"Hello %s", name);
  return text;
}
