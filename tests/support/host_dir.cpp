#include "support/host_dir.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "platform/process.h"

namespace postil::test {
namespace fs = std::filesystem;

namespace {

std::string MakeTempDir() {
  fs::path base = fs::temp_directory_path();
  for (int attempt = 0; attempt < 1000; ++attempt) {
    fs::path candidate = base / ("postil-test-" + std::to_string(std::rand()) + "-" +
                                 std::to_string(attempt));
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) return candidate.string();
  }
  throw std::runtime_error("cannot create a temporary directory");
}

}  // namespace

HostDir::HostDir() {
  std::srand(static_cast<unsigned>(std::hash<std::string>()(
      std::to_string(reinterpret_cast<std::uintptr_t>(this)) +
      std::to_string(fs::file_time_type::clock::now().time_since_epoch().count()))));
  path_ = MakeTempDir();
  runtime_path_ = MakeTempDir();
}

HostDir::~HostDir() {
  if (std::getenv("POSTIL_KEEP_TEST_DIRS") != nullptr) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
  fs::remove_all(runtime_path_, ec);
}

std::string HostDir::PathOf(std::string_view name) const {
  return name.empty() ? path_ : path_ + "/" + std::string(name);
}

void HostDir::Write(std::string_view name, std::string_view bytes) const {
  fs::path file = PathOf(name);
  fs::create_directories(file.parent_path());
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string HostDir::Read(std::string_view name) const {
  std::ifstream in(PathOf(name), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool HostDir::Exists(std::string_view name) const { return fs::exists(PathOf(name)); }

void HostDir::MakeDir(std::string_view name) const { fs::create_directories(PathOf(name)); }

std::vector<std::string> HostDir::List(std::string_view dir) const {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(PathOf(dir), ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

void HostDir::WriteHostExe(bool with_release_marker) const {
  std::string image = "MZ" + std::string(1000, '\x90');
  if (with_release_marker) image += "Quorvex QV2 release";
  Write("QV.EXE", image + std::string(100, '\0'));
}

void HostDir::WriteHostConfig(std::string_view text) const { Write("QUORVX.CFG", text); }

void HostDir::WriteNoConnectionMarker() const { Write("ZDial.No", ""); }

void HostDir::WriteDialerStamp(std::string_view text) const { Write("ZDial.Dat", text); }

void HostDir::EnableDebug() const { Write("POSTIL.DEB", ""); }

RunResult RunPostilIn(const HostDir& dir, const std::vector<std::string>& args,
                      std::vector<std::pair<std::string, std::string>> env, int time_limit_ms) {
  std::vector<std::string> argv = {POSTIL_BINARY};
  argv.insert(argv.end(), args.begin(), args.end());
  platform::ProcessOptions options;
  options.working_dir = dir.path();
  const bool runtime_given = std::any_of(env.begin(), env.end(), [](const auto& variable) {
    return variable.first == "XDG_RUNTIME_DIR";
  });
  if (!runtime_given) env.emplace_back("XDG_RUNTIME_DIR", dir.RuntimePath());
  options.env = std::move(env);
  options.time_limit_ms = time_limit_ms;
  platform::ProcessResult process = platform::RunProcess(argv, options);
  RunResult result;
  result.exit_code = process.exit_code;
  result.timed_out = process.timed_out;
  result.console = process.output;
  if (dir.Exists("QUIL.LOG")) result.log = dir.Read("QUIL.LOG");
  return result;
}

namespace {

bool IsClockAt(std::string_view line, std::size_t at) {
  static constexpr std::string_view kShape = "dd:dd:dd  POSTIL ";
  if (line.size() < at + kShape.size()) return false;
  for (std::size_t i = 0; i < kShape.size(); ++i) {
    char c = line[at + i];
    if (kShape[i] == 'd' ? (c < '0' || c > '9') : c != kShape[i]) return false;
  }
  return true;
}

std::string MaskLine(std::string line) {
  static constexpr std::string_view kHeader = "----------  ";
  if (line.rfind(kHeader, 0) == 0) {
    std::size_t comma = line.find(", QUIL");
    if (comma != std::string::npos)
      return std::string(kHeader) + "<date>" + line.substr(comma);
  }
  if (IsClockAt(line, 2)) line.replace(2, 8, "hh:mm:ss");
  else if (IsClockAt(line, 0)) line.replace(0, 8, "hh:mm:ss");  // a level without a mark
  return line;
}

}  // namespace

std::string MaskLogTimes(std::string_view log) {
  std::string masked;
  std::size_t start = 0;
  while (start < log.size()) {
    std::size_t lf = log.find('\n', start);
    std::size_t end = lf == std::string_view::npos ? log.size() : lf;
    masked += MaskLine(std::string(log.substr(start, end - start)));
    if (lf == std::string_view::npos) break;
    masked += '\n';
    start = lf + 1;
  }
  return masked;
}

std::vector<std::string> LogLines(std::string_view log) {
  std::vector<std::string> lines;
  std::istringstream in(MaskLogTimes(log));
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

}  // namespace postil::test
