// The application object: one run of the update installer, from reading its own
// configuration to the last post-install action.
#pragma once

#include <windows.h>

#include <cstdint>

#include "payload/cabinet_extractor.h"
#include "text/string_table.h"
#include "text/string_table_set.h"
#include "text/text_helper.h"

namespace installer {

// Text numbers of the configuration table.
enum ConfigText : int32_t {
  ConfigProductName = 4096,     // %1 of the gate and success messages
  ConfigMainFile = 4097,        // proves the installation, relative to the install folder
  ConfigReadmeFile = 4098,      // relative to the install folder
  ConfigUpdateVersion = 4099,   // decimal
  ConfigRegistryKey = 4100,     // under HKEY_LOCAL_MACHINE
  ConfigVersionValue = 4101,    // REG_DWORD: language id << 16 | version
  ConfigInstallDirValue = 4102,
  ConfigSideFile = 4103,        // names the installed language, relative to the install folder
  ConfigMoveEnabled = 4104,     // "TRUE" runs the move step
  ConfigMoveFolder = 4105,      // preferred folder under Program Files
  ConfigMoveFolderOther = 4112, // alternative folder under Program Files
  ConfigMoveFile = 4113,
  ConfigSideFileKey = 8192,
  ConfigLanguageRows = 0x3000,  // 0x3000..0x300F
};

// Text numbers of the interface texts.
enum InterfaceText : int32_t {
  TextCaption = 1000,
  TextReadmePrompt = 2008,     // label 1003 of the confirmation, %1 = the readme's path
  TextConfirmQuestion = 2009,  // label 1004
  TextExtracting = 2100,       // label 1012 of the progress dialog
  TextCancelButton = 3002,
  TextOkButton = 3003,
  TextNotInstalled = 4003,
  TextInstalledIsNewer = 4005,
  TextAlreadyInstalled = 4006,
  TextInstalled = 4007,
  TextLanguageDisabled = 4009,
  TextExtractCancelled = 5000,
  TextExtractNoMemory = 5001,
  TextExtractWriteFailed = 5002,
  TextExtractFailed = 5004,
};

// Outcomes of Prepare besides the message numbers of the gate.
enum PrepareOutcome : int32_t { PrepareGoOn = 0, PrepareStopQuietly = 1 };

inline constexpr size_t PathChars = payload::PathChars;
inline constexpr int MaxLanguages = 16;
inline constexpr int MaxPrefixes = 32;  // the last entry always stays empty
inline constexpr size_t PrefixChars = 32;

// installedVersion when the installation's version value is missing.
inline constexpr int32_t VersionValueMissing = 10000;

struct LanguageEntry {
  uint16_t id;     // 0 ends the table
  char code[256];  // names POLYGLOT\code, TEXT\code and the key INST_code
  char name[256];  // as the installed game writes it into its side file
  int32_t enabled;
};

struct InstallContext {
  payload::CabinetExtractor extractor;
  HINSTANCE instance = nullptr;
  int32_t languageRow = -1;
  int32_t installedVersion = 0;
  int32_t updateVersion = 0;
  char installDir[PathChars] = {};
  char ownPath[PathChars] = {};
  int32_t skipReadme = 0;
  LanguageEntry languages[MaxLanguages + 1] = {};  // the last one is the end marker
  char prefixes[MaxPrefixes][PrefixChars] = {};
  HWND dialog = nullptr;
};

class UpdateInstaller {
 public:
  UpdateInstaller();
  virtual ~UpdateInstaller() = default;
  UpdateInstaller(const UpdateInstaller&) = delete;
  UpdateInstaller& operator=(const UpdateInstaller&) = delete;

  // Hooks a derived installer may override; zero stops the run without a message.
  virtual int OnStart() { return 1; }
  virtual int OnConfigLoaded() { return 1; }
  virtual int OnInstalledDetected() { return 1; }
  virtual int OnTextsLoaded() { return 1; }
  virtual int OnUpdateAccepted() { return 1; }
  virtual int OnPrefixesBuilt() { return 1; }
  virtual int OnStampKeyOpened(HKEY key) { (void)key; return 1; }

  // The whole run; always 0.
  int Run(HINSTANCE instance, const char* argumentText);
  // Configuration, languages, installed version, interface texts and the version gate:
  // PrepareGoOn, PrepareStopQuietly, or the number of the gate's refusal message.
  int Prepare();
  int VersionGate() const;
  int ReadOwnPath(char* out);

  // Languages and the installed game.
  int BuildLanguageTable();
  int FindLanguage(uint16_t id) const;
  int DetectInstalled();

  // Installation sequence.
  int BuildPrefixList(int row);
  int ReportExtractError();

  // Post-install actions.
  int StampRegistry();
  int OpenReadme();
  int MoveExtraFile();

  // Dialogs.
  int ShowConfirmDialog();
  int InitConfirmDialog();
  int RunProgressDialog();

  // A configuration text, or "" when absent.
  const char* ConfigString(int32_t id) const;

  text::StringTableSet interfaceTexts;
  text::TextHelper messages;
  text::StringTable config;
  InstallContext context;
};

// The installer's name filter: selects the chosen language's files by prefix, strips the
// prefix, and steps the progress bar after each file.
int32_t InstallerFilter(int32_t kind, char* name, void* owner);

// Takes the program's own path out of a command line: the text between the quotes when it
// begins with one, else up to the first blank. At most PathChars - 1 characters.
void CopyOwnPath(const char* commandLine, char* out);

// Utilities of the post-install actions.
int ReadRegistryString(HKEY root, const char* key, const char* valueName, char* out);
int ReadProgramFilesDir(char* out);
int FileExists(const char* path);

// The installer whose confirmation dialog is shown, read by the dialog procedure.
extern UpdateInstaller* dialogOwner;
INT_PTR CALLBACK InstallerDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// How the post-install actions start a program; replaceable for tests.
using ShellExecuteFn = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
extern ShellExecuteFn shellExecute;

}  // namespace installer
