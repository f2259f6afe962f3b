// The installer's run: preparation, the version gate and the installation sequence.
#include "installer/update_installer.h"

#include <commctrl.h>


#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "text/resource_stream.h"
#include "text/stream_factory.h"

namespace installer {

UpdateInstaller::UpdateInstaller() : messages(&interfaceTexts) {}

const char* UpdateInstaller::ConfigString(int32_t id) const {
  const char* text = config.lookupById(id);
  return text != nullptr ? text : "";
}

void CopyOwnPath(const char* commandLine, char* out) {
  char terminator = ' ';
  if (*commandLine == '"') {
    terminator = '"';
    ++commandLine;
  }
  size_t i = 0;
  while (i < PathChars - 1 && commandLine[i] != '\0' && commandLine[i] != terminator) {
    out[i] = commandLine[i];
    ++i;
  }
  out[i] = '\0';
}

int UpdateInstaller::ReadOwnPath(char* out) {
  CopyOwnPath(GetCommandLineA(), out);
  return 1;
}

int UpdateInstaller::Run(HINSTANCE instance, const char* argumentText) {
  context.instance = instance;
  context.skipReadme = (argumentText != nullptr && argumentText[0] == '1') ? 1 : 0;
  ReadOwnPath(context.ownPath);

  int outcome = Prepare();
  if (outcome == PrepareStopQuietly) return 0;
  if (outcome != PrepareGoOn) {
    messages.formattedMessageBox(TextCaption, outcome, ConfigString(ConfigProductName),
                                 MB_ICONINFORMATION);
    return 0;
  }

  if (!OnUpdateAccepted()) return 0;
  BuildPrefixList(context.languageRow);
  if (!OnPrefixesBuilt()) return 0;

  // The counting pass also checks every selected name against the install folder, so
  // that an archive whose names would leave it is refused before anything is written.
  if (!context.extractor.countFiles(context.ownPath, InstallerFilter, this,
                                    context.installDir)) {
    return 0;
  }
  if (context.extractor.unsafeNameCount != 0) {
    messages.messageBox(nullptr, TextExtractFailed, TextCaption, MB_ICONERROR);
    return 0;
  }
  if (ShowConfirmDialog() != IDOK) return 0;
  if (!RunProgressDialog()) {
    ReportExtractError();
    return 0;
  }
  StampRegistry();
  OpenReadme();
  const char* moveEnabled = config.lookupById(ConfigMoveEnabled);
  if (moveEnabled != nullptr && std::strcmp(moveEnabled, "TRUE") == 0) MoveExtraFile();
  return 0;
}

int UpdateInstaller::Prepare() {
  if (!OnStart()) return PrepareStopQuietly;
  text::ResourceStreamFactory resources;
  config.load("INSTALL\\INSTALL", &resources, -1);
  if (!OnConfigLoaded()) return PrepareStopQuietly;

  BuildLanguageTable();
  DetectInstalled();
  if (!OnInstalledDetected()) return PrepareStopQuietly;

  {
    text::StringTable sample;
    interfaceTexts.attachPrototype(&sample);
  }
  char name[PathChars];
  std::snprintf(name, sizeof name, "POLYGLOT\\%s", context.languages[context.languageRow].code);
  if (interfaceTexts.add(name, &resources, context.languageRow) == 0) {
    context.languageRow = 0;
    std::snprintf(name, sizeof name, "POLYGLOT\\%s", context.languages[0].code);
    interfaceTexts.add(name, &resources, 0);
  }

  // Without its own version number the update cannot be judged: stop quietly.
  const char* version = config.lookupById(ConfigUpdateVersion);
  if (version == nullptr) return PrepareStopQuietly;
  context.updateVersion = std::atoi(version);
  if (!OnTextsLoaded()) return PrepareStopQuietly;
  return VersionGate();
}

int UpdateInstaller::VersionGate() const {
  const int32_t installed = context.installedVersion;
  const int32_t update = context.updateVersion;
  if (context.languageRow < 0 || !context.languages[context.languageRow].enabled) {
    return TextLanguageDisabled;
  }
  if (installed == update) return TextAlreadyInstalled;
  if (installed > update) return TextInstalledIsNewer;
  if (installed == -1) return TextNotInstalled;
  return PrepareGoOn;
}

int UpdateInstaller::BuildPrefixList(int row) {
  std::memset(context.prefixes, 0, sizeof context.prefixes);
  if (row < 0 || row >= MaxLanguages) return 0;
  char key[PathChars];
  std::snprintf(key, sizeof key, "INST_%s", context.languages[row].code);
  const char* list = config.lookupByKey(key, text::LookupNullIfMissing);
  if (list == nullptr) return 0;

  // Tokens are separated by runs of blanks, commas and tabs. A token too long for an
  // entry is left out rather than cut, since a cut prefix would select foreign files;
  // tokens beyond the last entry are left out as well.
  int count = 0;
  const char* p = list;
  while (*p != '\0' && count < MaxPrefixes - 1) {
    p += std::strspn(p, " ,\t");
    size_t length = std::strcspn(p, " ,\t");
    if (length == 0) break;
    if (length < PrefixChars) {
      std::memcpy(context.prefixes[count], p, length);
      context.prefixes[count][length] = '\0';
      ++count;
    }
    p += length;
  }
  return static_cast<unsigned char>(context.prefixes[0][0]);
}

int32_t InstallerFilter(int32_t kind, char* name, void* owner) {
  auto* self = static_cast<UpdateInstaller*>(owner);
  if (kind == payload::FilterDone) {
    SendMessageA(GetDlgItem(self->context.dialog, 1013), PBM_STEPIT, 0, 0);
    return 1;
  }
  if (kind != payload::FilterAccept) return 1;

  for (int i = 0; i < MaxPrefixes && self->context.prefixes[i][0] != '\0'; ++i) {
    const char* prefix = self->context.prefixes[i];
    size_t length = std::strlen(prefix);
    if (std::strncmp(name, prefix, length) != 0) continue;
    // A name that is the prefix itself names no file below the install folder.
    if (name[length] == '\0') return 0;
    std::memmove(name, name + length + 1, std::strlen(name + length + 1) + 1);
    return 1;
  }
  return 0;
}

int UpdateInstaller::ReportExtractError() {
  const cab::ErrorRecord* errors = context.extractor.errors();
  int32_t code = errors != nullptr ? errors->code : 0;
  int textId = TextExtractFailed;
  switch (code) {
    case cab::Cancelled: textId = TextExtractCancelled; break;
    case cab::NoMemory: textId = TextExtractNoMemory; break;
    case cab::WriteFailed: textId = TextExtractWriteFailed; break;
    default: break;
  }
  messages.messageBox(nullptr, textId, TextCaption, MB_ICONERROR);
  return 1;
}

}  // namespace installer
