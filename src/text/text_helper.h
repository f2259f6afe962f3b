// Turns text numbers into message boxes, dialog texts and formatted messages, fetching
// every text from one TextSource by StringId.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <windows.h>
#endif

#include "text/text_source.h"

namespace text {

// One row of a dialog's text table; a row with controlId 0 ends the table.
struct ControlText {
  int32_t controlId;
  int32_t textId;
};

class TextHelper {
 public:
  // The source is not owned; it must outlive the helper.
  explicit TextHelper(const TextSource* source = nullptr) : source_(source) {}
  void setSource(const TextSource* source) { source_ = source; }
  const TextSource* source() const { return source_; }

  // Stores in *out a new buffer (release it with delete[]) holding the text of textId with
  // its placeholders filled: %1 becomes the argument (nothing when null), %2..%9 and
  // %A..%Z become "?", and a % before anything else stays as it is. Returns 1. When the
  // text is missing *out gets an empty buffer and the result is 0.
  int32_t formatText(char** out, int32_t textId, const char* argument) const;

  // Fills a text's placeholders into dst, which holds room for the returned length plus a
  // NUL; with dst null only counts. The core of formatText.
  static size_t fillPlaceholders(const char* text, const char* argument, char* dst);

#ifdef _WIN32
  // The message-box call, replaceable so that tests can answer instead of a user.
  using MessageBoxFn = int(WINAPI*)(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
  static MessageBoxFn showMessageBox;

  // Shows text and caption; when either is missing shows nothing and returns 0.
  int messageBox(HWND owner, int32_t textId, int32_t captionId, UINT type) const;
  // Sets the dialog's title (when titleId is not 0 and its text exists) and the text of
  // every control of the table that exists and has a text. 0 for a null dialog, else 1.
  int32_t setDialogTexts(HWND dialog, const ControlText* table, int32_t titleId) const;
  // Formats textId with the argument and shows it without owner window. A missing caption
  // gives the platform's default one; a missing text shows nothing and returns 0.
  int formattedMessageBox(int32_t captionId, int32_t textId, const char* argument,
                          UINT type) const;
#endif

 private:
  const TextSource* source_;
};

}  // namespace text
