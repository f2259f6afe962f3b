// cabtool pack: a cabinet appended to a prefix file as its payload.
#include "commands.h"
#include "pack/payload_packer.h"

namespace cabtool {

int runPack(const Arguments& arguments) {
  const char* usage = "usage: cabtool pack [--seed N] [--plain] -o OUT PREFIX CAB";
  pack::PackOptions options;
  // A fixed default keeps packed files reproducible.
  options.seed = 0x5eed1cab;
  std::string output;
  std::vector<std::string> files;
  for (size_t i = 0; i < arguments.size(); i++) {
    const std::string& argument = arguments[i];
    if (argument == "--seed" && i + 1 < arguments.size()) {
      unsigned long long seed;
      if (!parseNumber(arguments[++i], 0xffffffffull, &seed))
        return fail("", "--seed needs a number from 0 to 4294967295");
      options.seed = uint32_t(seed);
    } else if (argument == "--plain") {
      options.scrambled = false;
    } else if (argument == "-o" && i + 1 < arguments.size()) {
      output = arguments[++i];
    } else if (argument.size() > 1 && argument[0] == '-') {
      return fail("", usage);
    } else {
      files.push_back(argument);
    }
  }
  if (output.empty() || files.size() != 2) return fail("", usage);
  std::string error;
  if (!pack::packPayload(files[0], files[1], output, options, &error)) return fail(output, error);
  return 0;
}

}  // namespace cabtool
