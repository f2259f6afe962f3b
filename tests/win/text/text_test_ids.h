// Identifiers shared by the text tests' resource script and their code.
#pragma once

#define IDD_TEXTS 200
#define IDC_LABEL 201
#define IDC_OTHER 202
#define IDC_BUTTON 203
#define IDC_ABSENT 299
