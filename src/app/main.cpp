#include <iostream>
#include <string>

#include "app/run_control.h"
#include "platform/clock.h"

int main(int argc, char** argv) {
  std::string tail;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) tail += ' ';
    tail += argv[i];
  }
  postil::platform::SystemClock clock;
  return postil::RunPostil(tail, std::cout, clock);
}
