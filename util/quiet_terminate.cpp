// How a program that std::terminate stops ends. The C++ runtime's default
// prints the exception's name to the standard error stream, which a windowed
// program does not have, and brings a name demangler of some 45 KB into every
// binary; this one ends the program the same way without it. Linked as an
// object into each shipped binary, so that it takes the runtime's place.
#include <cstdlib>

#if defined(__GLIBCXX__)
namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
#endif
