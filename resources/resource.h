// Resource IDs of ZuvidaDiroVivuv.exe, shared by the .rc files and the code.
#pragma once

#define IDI_ICON1 101

// The refusal box shown on Windows older than 7.
#define IDS_REFUSAL_TITLE 104
#define IDS_REFUSAL_TEXT 105
