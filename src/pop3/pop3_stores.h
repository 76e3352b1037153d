// The Dupebase (POSTIL.IDX) and Requestbase (REQUEST.ID) of the run: loaded
// and opened by main before the POP3 worker starts, used by the POP3 worker
// alone while it runs, saved and closed by main after it ended.
#pragma once

#include "pop3/dupebase.h"
#include "pop3/requestbase.h"

namespace postil {

struct Config;
struct RunState;

class Pop3Stores {
 public:
  void LoadDupebase(RunState& state) { dupebase.LoadDupebase(state); }
  void OpenRequestbase(RunState& state, const Config& config);
  void SaveDupebase(RunState& state) { dupebase.SaveDupebase(state); }
  void CloseRequestbase(RunState& state) { requestbase.CloseRequestbase(state); }

  Dupebase dupebase;
  Requestbase requestbase;
};

}  // namespace postil
