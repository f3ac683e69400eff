// The program entry: hands the arguments to the driver and returns its status.
#include <cstdio>

int main() {
  std::fputs("velto: the command line is not part of this build yet\n", stderr);
  return 1;
}
