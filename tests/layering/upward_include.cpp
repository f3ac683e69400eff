// Must not build: code of a layer that reaches into a layer it does not link.
// The layering tests build this once per pair, against the lower layer alone,
// with VELTO_UPWARD_HEADER naming a header of the other, and expect the
// include to be missing.
#define VELTO_QUOTE_(x) #x
#define VELTO_QUOTE(x) VELTO_QUOTE_(x)
#include VELTO_QUOTE(VELTO_UPWARD_HEADER)

int main() {
  return 0;
}
