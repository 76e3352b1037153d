#include <sys/stat.h>

#include "support/fifo.h"

namespace postil::test {

bool MakeFifo(const std::string& path) { return ::mkfifo(path.c_str(), 0600) == 0; }

}  // namespace postil::test
