// Resource ids shared by the resource script and the program.
#pragma once

#define IDI_QUILLON 100
#define IDD_DOWNLOAD 2000
#define IDD_ABOUT 3001
#define IDB_ABOUT 3001
// The About bitmap drawn for 150 % and 200 % (IDB_ABOUT is the 100 % one).
#define IDB_ABOUT_150 3021
#define IDB_ABOUT_200 3022

// Items of the About dialog.
#define IDC_ABOUT_ICON 3002
#define IDC_ABOUT_BITMAP 3003
#define IDC_ABOUT_NAME 3005
#define IDC_ABOUT_VERSION 3006
#define IDC_ABOUT_LINE1 3009
#define IDC_ABOUT_LINE2 3012

// String ids (texts in StringTable.def).
#define IDS_APP_NAME 100
#define IDS_RESET 1000
#define IDS_NOT_CONNECTED 1001
#define IDS_SETTINGS 1002
#define IDS_LOAD 1003
#define IDS_SAVE 1004
#define IDS_DEFAULT 1005
#define IDS_LEFT 1007
#define IDS_RIGHT 1008
#define IDS_LEVEL_NONE 1009
#define IDS_HIO 1010
#define IDS_LINK_ACTIVE 1011
#define IDS_LINK_NONE 1012
#define IDS_BXA_AUTOLOAD 1013
#define IDS_LOADING_BXA 1014
#define IDS_LINK_WAITING 1020
// The link text when the host-I/O library was not found, and when the device
// program image to download automatically is missing.
#define IDS_LINK_NO_LIBRARY 1021
#define IDS_LINK_NO_IMAGE 1022
#define IDS_MENU_FILE 1100
#define IDS_MENU_CONNECT 1101
#define IDS_MENU_DISCONNECT 1102
#define IDS_MENU_EXIT 1103
#define IDS_MENU_HELP 1104
#define IDS_MENU_ABOUT 1105
#define IDS_MENU_LOG_FOLDER 1110
#define IDS_MENU_SPLINE 1106
#define IDS_MENU_STREAM_STATS 1111
// Two-line texts of the level display when the source has no stream.
#define IDS_LEVEL_NO_DEVICE 1300
#define IDS_LEVEL_DEVICE_GONE 1301
#define IDS_LEVEL_FORMAT_REFUSED 1302
#define IDS_LEVEL_START_FAILED 1303
#define IDS_LEVEL_DEFAULT_DEVICE 1304
// The auto-save file exists but could not be read at start.
#define IDS_LEVEL_SETTINGS_UNREAD 1305
// The stream statistics box.
#define IDS_STATS_CURRENT 1310
#define IDS_STATS_LAST 1311
#define IDS_STATS_NONE 1312
#define IDS_STATS_WRITES 1313
#define IDS_STATS_GAPS 1314
#define IDS_STATS_LOSSES 1315
#define IDS_STATS_RESTARTS 1316
#define IDS_ABOUT 1200
#define IDS_BOX_NOT_CONNECTED 10000
#define IDS_COULD_NOT_OPEN 10100
#define IDS_NOT_SETTINGS_FILE 10101
#define IDS_COULD_NOT_OPEN_SAVE 10102
#define IDS_LOADER_FAILED 10110
#define IDS_PROGRAM_FOLDER_UNKNOWN 10200
#define IDS_WINDOW_NOT_CREATED 10201
#define IDS_API_WAVEIN 12000
#define IDS_API_CORE_AUDIO 12001
#define IDS_API_LOOPBACK 12002
#define IDS_NO_DEVICE_FOUND 12003
#define IDS_FIXED_DEVICE 12004
#define IDS_NO_CHANNEL_FOUND 12006
#define IDS_DROP_WAVE_FILE 12007
#define IDS_NOT_SUPPORTED_FORMAT 12008
#define IDS_WAVE_FILE_TOO_LARGE 12009
#define IDS_WAVE_FILE_BUSY 12010
#define IDS_MULTIPLE_BY_160 13000
