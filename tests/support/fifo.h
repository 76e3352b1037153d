// A named pipe in the file system (a FIFO), for the tests of files that
// must not be opened when they are no regular file: opening one for reading
// blocks until a writer comes. Any thread.
#pragma once

#include <string>

namespace postil::test {

// Makes a FIFO at the native `path`; false where the system has none.
bool MakeFifo(const std::string& path);

}  // namespace postil::test
