/* Links against the installed plug-in, calls it and prints the device code. */
#include <stdio.h>
#include <string.h>

#include <devicecode.h>

int main(void) {
  char* code = GetDeviceCode();
  if (code == NULL) {
    fputs("consumer: GetDeviceCode returned NULL\n", stderr);
    return 1;
  }
  const int wellFormed = strlen(code) == 32 && strspn(code, "0123456789ABCDEF") == 32;
  printf("%s\n", code);
  FreeBuffer(code);
  return wellFormed ? 0 : 1;
}
