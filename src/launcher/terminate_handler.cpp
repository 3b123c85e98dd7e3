// The program's terminate handler: it ends the process at once. It takes the
// place of the C++ runtime's default handler, which writes the exception's
// demangled type to stderr (a GUI program has none) and so brings the whole
// demangler into the exe. Linked into the program itself, not through a
// library, so that the runtime's definition is never pulled in.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx
