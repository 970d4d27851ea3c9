/* Built for i386 and run by the scripts: a host whose kernel runs no 32-bit programs refuses to
 * start it ("Exec format error"), and then the 32-bit Wine cannot run there either. */
#include <stdio.h>

int main(void) {
  puts(sizeof(void *) == 4 ? "i386" : "not i386");
  return 0;
}
