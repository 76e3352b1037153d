#include "support/fifo.h"

namespace postil::test {

// Named pipes live outside the file system here.
bool MakeFifo(const std::string&) { return false; }

}  // namespace postil::test
