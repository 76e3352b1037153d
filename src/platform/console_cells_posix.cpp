#include "platform/console_cells.h"

namespace postil::platform {

// A POSIX process's console is a terminal: drawn through TerminalIo.
std::unique_ptr<CellConsole> OpenProcessCellConsole() { return nullptr; }

}  // namespace postil::platform
