// Linked into every shipped program as a source of its own, so the linker
// takes it before the C++ library's handler of the same name. That handler,
// run when an exception is left uncaught, writes the exception's demangled
// type to the standard error, which a windowed program has not got, and
// brings the whole name demangler into the program for it (about 45 KB);
// this one ends the process the same way, without the text.
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler()
{
    std::abort();
}

}
