// TextHelper, window part: message boxes and dialog texts.
#include <memory>

#include "text/text_helper.h"

namespace text {

TextHelper::MessageBoxFn TextHelper::showMessageBox = MessageBoxA;

int TextHelper::messageBox(HWND owner, int32_t textId, int32_t captionId, UINT type) const {
  if (source_ == nullptr) return 0;
  const char* message = source_->lookupById(textId);
  const char* caption = source_->lookupById(captionId);
  if (message == nullptr || caption == nullptr) return 0;
  return showMessageBox(owner, message, caption, type);
}

int32_t TextHelper::setDialogTexts(HWND dialog, const ControlText* table, int32_t titleId) const {
  if (dialog == nullptr) return 0;
  if (source_ == nullptr) return 1;
  if (titleId != 0) {
    if (const char* title = source_->lookupById(titleId)) SetWindowTextA(dialog, title);
  }
  for (const ControlText* row = table; row != nullptr && row->controlId != 0; ++row) {
    HWND control = GetDlgItem(dialog, row->controlId);
    const char* controlText = source_->lookupById(row->textId);
    if (control != nullptr && controlText != nullptr) SetWindowTextA(control, controlText);
  }
  return 1;
}

int TextHelper::formattedMessageBox(int32_t captionId, int32_t textId, const char* argument,
                                    UINT type) const {
  char* formatted = nullptr;
  const int32_t found = formatText(&formatted, textId, argument);
  std::unique_ptr<char[]> owned(formatted);
  if (!found) return 0;
  const char* caption = source_->lookupById(captionId);
  return showMessageBox(nullptr, formatted, caption, type);
}

}  // namespace text
