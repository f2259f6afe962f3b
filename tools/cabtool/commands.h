// The cabtool commands. Each takes the arguments after its name and returns the exit
// status: 0 on success, 1 after printing one error line on stderr.
#pragma once

#include <string>
#include <vector>

namespace cabtool {

using Arguments = std::vector<std::string>;

int runCreate(const Arguments& arguments);
int runList(const Arguments& arguments);
int runTest(const Arguments& arguments);
int runExtract(const Arguments& arguments);
int runPack(const Arguments& arguments);

// Prints "cabtool: SUBJECT: MESSAGE" (or "cabtool: MESSAGE" without a subject); returns 1.
int fail(const std::string& subject, const std::string& message);
// Parses a whole unsigned number, decimal or 0x-prefixed hexadecimal.
bool parseNumber(const std::string& text, unsigned long long highest, unsigned long long* value);

// One line on stderr, rewritten in place, while stderr is a terminal.
class Progress {
 public:
  Progress(const char* verb, unsigned long long totalBytes);
  ~Progress();
  void advance(unsigned long long bytes);

 private:
  const char* verb_;
  unsigned long long total_;
  unsigned long long done_ = 0;
  int shownPercent_ = -1;
  bool enabled_;
};

}  // namespace cabtool
