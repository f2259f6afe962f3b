// cabtool: creates, lists, tests and extracts cabinets, and packs a cabinet as the payload
// appended to a file. Usage in README.md.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "commands.h"
#include "platform.h"

namespace cabtool {

int fail(const std::string& subject, const std::string& message) {
  if (subject.empty()) std::fprintf(stderr, "cabtool: %s\n", message.c_str());
  else std::fprintf(stderr, "cabtool: %s: %s\n", subject.c_str(), message.c_str());
  return 1;
}

bool parseNumber(const std::string& text, unsigned long long highest, unsigned long long* value) {
  if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ') return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtoull(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0' && *value <= highest;
}

Progress::Progress(const char* verb, unsigned long long totalBytes)
    : verb_(verb), total_(totalBytes), enabled_(stderrIsTerminal() && totalBytes >= (1u << 20)) {}

Progress::~Progress() {
  if (enabled_ && shownPercent_ >= 0) std::fprintf(stderr, "\r%*s\r", 40, "");
}

void Progress::advance(unsigned long long bytes) {
  done_ += bytes;
  if (!enabled_) return;
  int percent = int(done_ * 100 / total_);
  if (percent == shownPercent_) return;
  shownPercent_ = percent;
  std::fprintf(stderr, "\rcabtool: %s %3d%%", verb_, percent > 100 ? 100 : percent);
  std::fflush(stderr);
}

}  // namespace cabtool

namespace {

const char Usage[] =
    "usage: cabtool create [--method none|mszip[:L]|lzx:N|quantum:N] [--reserve H,F,D]\n"
    "                      [--split BYTES] [--set-id N] [--no-checksum] [--files-from LIST]\n"
    "                      -o OUT.cab [FILE|DIR...]\n"
    "       cabtool list [--tsv] FILE\n"
    "       cabtool test FILE\n"
    "       cabtool extract [-d DIR] FILE\n"
    "       cabtool pack [--seed N] [--plain] -o OUT PREFIX CAB\n";

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fputs(Usage, stderr);
    return 1;
  }
  std::string command = argv[1];
  cabtool::Arguments arguments(argv + 2, argv + argc);
  if (command == "create") return cabtool::runCreate(arguments);
  if (command == "list") return cabtool::runList(arguments);
  if (command == "test") return cabtool::runTest(arguments);
  if (command == "extract") return cabtool::runExtract(arguments);
  if (command == "pack") return cabtool::runPack(arguments);
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(Usage, stdout);
    return 0;
  }
  std::fputs(Usage, stderr);
  return 1;
}
