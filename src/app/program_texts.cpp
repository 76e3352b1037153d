#include "app/program_texts.h"

#include "core/program_identity.h"
#include "platform/build_system.h"
#include "platform/transport.h"

namespace postil {
namespace {

constexpr std::size_t kBannerWidth = 79;

}  // namespace

void PrintBanner(std::ostream& out) {
  out << "POSTIL/Win32 " << ProgramVersion << " - Internet mail module\n";
  out << "Pop3/Smtp-Client for Quorvex v3.3x\n";
  std::string build(platform::BuildBannerText());
  out << std::string(kBannerWidth - build.size(), ' ') << build << "\n";
}

void PrintUsage(std::ostream& out) {
  out << " \n"
      << "Usage: POSTIL <Configuration file>\n"
      << " \n"
      << "       /NoPop3        - disable Pop3 Thread\n"
      << "       /OpenPop3Only  - Pop3 Statistic only\n"
      << "       /NoSmtp        - disable Smtp Thread\n";
}

void PrintOptions(std::ostream& out) {
  out << " \n"
      << "       --check <file> - show what a run would do with the configuration\n"
      << "                        file; contacts no server, writes no file;\n"
      << "                        exit 0 when it is usable, 1 when not\n"
      << "       --version      - show the version and the build\n"
      << "       --help, -h     - show this text\n";
}

std::string VersionText() {
  std::string text = std::string(ProgramName) + std::string(ProgramVersion) + "\n";
  text += "Build: " + std::string(platform::BuildSystemName());
  std::string tls = TlsLibraryVersion();
  if (!tls.empty()) text += ", " + tls;
  return text + "\n";
}

}  // namespace postil
