// Splitting archive names and target paths by characters of an ANSI code page.
//
// In the double-byte code pages of East Asian editions the trail byte of a character may be
// 0x5C, the backslash; walking such a name byte by byte would split it in the middle of a
// character. Every walk here steps with the lead-byte test of the code page instead.
#include <windows.h>

#include <cstring>

#include "payload/cabinet_extractor.h"

namespace payload {
namespace {

// The next character after p; a lead byte followed by the terminator counts alone.
const char* nextChar(const char* p, uint32_t codePage) {
  if (*p == '\0') return p;
  if (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(*p)) && p[1] != '\0') return p + 2;
  return p + 1;
}

bool isSeparator(char c) { return c == '\\' || c == '/' || c == ':'; }

// Copies [begin, end) into out, at most outBytes - 1 bytes, never half a character.
void copyBounded(const char* begin, const char* end, char* out, size_t outBytes,
                 uint32_t codePage) {
  if (outBytes == 0) return;
  const char* p = begin;
  size_t written = 0;
  while (p < end) {
    const char* next = nextChar(p, codePage);
    size_t charBytes = static_cast<size_t>(next - p);
    if (written + charBytes > outBytes - 1) break;
    std::memcpy(out + written, p, charBytes);
    written += charBytes;
    p = next;
  }
  out[written] = '\0';
}

// Position just after the last separator character, or path itself when there is none.
const char* afterLastSeparator(const char* path, uint32_t codePage) {
  const char* after = path;
  for (const char* p = path; *p != '\0'; p = nextChar(p, codePage)) {
    if (isSeparator(*p)) after = p + 1;
  }
  return after;
}

}  // namespace

void fileNamePartInCodePage(const char* path, char* out, size_t outBytes, uint32_t codePage) {
  const char* start = afterLastSeparator(path, codePage);
  copyBounded(start, start + std::strlen(start), out, outBytes, codePage);
}

void directoryPartInCodePage(const char* path, char* out, size_t outBytes, uint32_t codePage) {
  copyBounded(path, afterLastSeparator(path, codePage), out, outBytes, codePage);
}

void fileNamePart(const char* path, char* out, size_t outBytes) {
  fileNamePartInCodePage(path, out, outBytes, CP_ACP);
}

void directoryPart(const char* path, char* out, size_t outBytes) {
  directoryPartInCodePage(path, out, outBytes, CP_ACP);
}

bool isSafeTargetName(const char* name, size_t destinationChars, uint32_t codePage) {
  size_t nameChars = std::strlen(name);
  if (nameChars == 0) return false;
  // destination + '\' + name + suffix + terminator must fit one path buffer.
  if (destinationChars + 1 + nameChars + SuffixRoomChars + 1 > PathChars) return false;

  const char* segment = name;
  for (const char* p = name;; p = nextChar(p, codePage)) {
    char c = *p;
    if (c == ':') return false;  // a drive, or an alternate data stream
    if (c == '\\' || c == '/' || c == '\0') {
      // Windows drops trailing dots and blanks of a segment, so ". ." and "..." name the
      // parent folder as ".." does: refuse every segment made of dots and blanks only.
      bool onlyDotsAndBlanks = p > segment;
      for (const char* s = segment; s < p; ++s) {
        if (*s != '.' && *s != ' ') onlyDotsAndBlanks = false;
      }
      if (onlyDotsAndBlanks) return false;
      if (c == '\0') break;
      segment = p + 1;
    }
  }
  return true;
}

}  // namespace payload
