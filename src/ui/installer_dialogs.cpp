// The confirmation dialog with the readme (template 102) and the progress dialog shown
// while the files are extracted (template 110).

#include <cstdio>
#include <memory>

#include "installer/update_installer.h"

#include <commctrl.h>
#include "text/resource_stream.h"
#include "ui/resource_ids.h"

namespace installer {

UpdateInstaller* dialogOwner = nullptr;

namespace {

// Control texts of the two dialogs; both are applied with the caption text.
const text::ControlText confirmTexts[] = {
    {IdcReadmePrompt, TextReadmePrompt},
    {IdcConfirmQuestion, TextConfirmQuestion},
    {IDOK, TextOkButton},
    {IDCANCEL, TextCancelButton},
    {0, 0},
};
const text::ControlText progressTexts[] = {
    {IdcExtractingLabel, TextExtracting},
    {0, 0},
};

// Readme resources: a 4-byte tag, then the text with every byte XOR this key.
constexpr uint8_t ReadmeKey = 0x6B;
constexpr int32_t ReadmeTagBytes = 4;

void setDefaultFont(HWND dialog, int controlId) {
  SendDlgItemMessageA(dialog, controlId, WM_SETFONT,
                      reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
}

// The readme of a language as text; empty when the resource is missing or too short.
std::unique_ptr<char[]> readReadme(const char* code) {
  char name[PathChars];
  std::snprintf(name, sizeof name, "TEXT\\%s", code);
  auto stream = std::make_unique<text::ResourceStream>();
  int32_t size = 0;
  std::unique_ptr<char[]> bytes;
  if (stream->open(name, 0x201)) {
    stream->seek(0, text::OriginEnd);
    size = stream->tell();
    if (size < 0) size = 0;
    bytes = std::make_unique<char[]>(static_cast<size_t>(size) + 1);
    stream->seek(0, text::OriginBegin);
    if (stream->read(bytes.get(), static_cast<uint32_t>(size), 1) != 1) size = 0;
  }
  if (size < ReadmeTagBytes) {
    auto empty = std::make_unique<char[]>(1);
    empty[0] = '\0';
    return empty;
  }
  for (int32_t i = 0; i < size - ReadmeTagBytes; ++i) {
    bytes[i] = static_cast<char>(bytes[i + ReadmeTagBytes] ^ ReadmeKey);
  }
  bytes[size - ReadmeTagBytes] = '\0';
  return bytes;
}

}  // namespace

INT_PTR CALLBACK InstallerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  UpdateInstaller* owner = dialogOwner;
  if (owner == nullptr) return FALSE;
  owner->context.dialog = dialog;
  switch (message) {
    case WM_INITDIALOG:
      for (int id : {IdcReadme, IdcReadmePrompt, IdcConfirmQuestion, IDCANCEL, IDOK}) {
        setDefaultFont(dialog, id);
      }
      return owner->InitConfirmDialog();
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, LOWORD(wParam));
      }
      return FALSE;
    default:
      return FALSE;
  }
}

int UpdateInstaller::ShowConfirmDialog() {
  dialogOwner = this;
  return static_cast<int>(DialogBoxParamA(context.instance, MAKEINTRESOURCEA(IddConfirm),
                                          nullptr, InstallerDialogProc, 0));
}

int UpdateInstaller::InitConfirmDialog() {
  HWND dialog = context.dialog;
  messages.setDialogTexts(dialog, confirmTexts, TextCaption);

  char path[PathChars];
  std::snprintf(path, sizeof path, "%s\\%s", context.installDir, ConfigString(ConfigReadmeFile));
  char* prompt = nullptr;
  messages.formatText(&prompt, TextReadmePrompt, path);
  if (prompt != nullptr) {
    SetDlgItemTextA(dialog, IdcReadmePrompt, prompt);
    delete[] prompt;
  }

  std::unique_ptr<char[]> readme = readReadme(context.languages[context.languageRow].code);
  SendDlgItemMessageA(dialog, IdcReadme, EM_SETSEL, 0, -1);
  SendDlgItemMessageA(dialog, IdcReadme, EM_REPLACESEL, 0,
                      reinterpret_cast<LPARAM>(readme.get()));
  SendDlgItemMessageA(dialog, IdcReadme, EM_SETSEL, static_cast<WPARAM>(-1), 0);
  return 1;
}

int UpdateInstaller::RunProgressDialog() {
  dialogOwner = nullptr;
  HWND dialog = CreateDialogParamA(context.instance, MAKEINTRESOURCEA(IddProgress), nullptr,
                                   InstallerDialogProc, 0);
  context.dialog = dialog;
  // Without the dialog nothing is extracted, and the run must not carry on as if it was.
  if (dialog == nullptr) return 0;
  setDefaultFont(dialog, IdcExtractingLabel);
  SendDlgItemMessageA(dialog, IdcAnimation, ACM_OPENA, 0,
                      reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(IdrAnimation)));
  SendDlgItemMessageA(dialog, IdcAnimation, ACM_PLAY, static_cast<WPARAM>(-1),
                      MAKELPARAM(0, 0xFFFF));
  messages.setDialogTexts(dialog, progressTexts, TextCaption);
  ShowWindow(dialog, SW_SHOW);
  uint32_t range = context.extractor.context() != nullptr ? context.extractor.fileCount : 0;
  SendDlgItemMessageA(dialog, IdcProgress, PBM_SETRANGE, 0, MAKELPARAM(0, range & 0xffff));
  SendDlgItemMessageA(dialog, IdcProgress, PBM_SETSTEP, 1, 0);

  int32_t ok = context.extractor.extractFiles(context.installDir);
  DestroyWindow(dialog);
  context.dialog = nullptr;
  return ok;
}

}  // namespace installer
