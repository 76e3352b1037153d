// The name of the operating system this build is for, as the program's
// build description shows it. Constant, any thread.
#pragma once

#include <string_view>

namespace postil::platform {

std::string_view BuildSystemName();

// The build line of the banner: which build this is, right-aligned there.
std::string_view BuildBannerText();

}  // namespace postil::platform
