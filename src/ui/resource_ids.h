// Numbers of the installer's dialogs, controls and resources, shared by the code and the
// resource script.
#pragma once

#define IddConfirm 102
#define IddProgress 110
#define IdiInstaller 111
#define IdrAnimation 113

#define IdcReadme 500
#define IdcReadmePrompt 1003
#define IdcConfirmQuestion 1004
#define IdcExtractingLabel 1012
#define IdcProgress 1013
#define IdcProgressUnused 1014
#define IdcAnimation 1015
