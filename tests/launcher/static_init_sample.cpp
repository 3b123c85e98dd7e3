// An object with a static initialiser and an exit-time destructor, for the
// test of the check that finds them.
#include <string>

std::string staticInitSample(40, 'x');
