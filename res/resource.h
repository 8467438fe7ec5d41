// Resource identifiers of the program.
#pragma once

// Icons
#define IDI_MAIN                128

// Strings
#define IDS_APP_TITLE           57344
#define IDS_NOT_ADMIN           61222
#define IDS_BAD_START           61209
#define IDS_CATALOGUE_DOWNLOAD_FAILED 61206
#define IDS_CATALOGUE_INVALID   61216
#define IDS_DISPLAY_NAME        61210
#define IDS_RESTART_NEEDED      61205
#define IDS_DOWNLOAD_FAILED     61207
#define IDS_INSTALL_FAILED      61208
#define IDS_UNPACKING           61213
#define IDS_DOWNLOADING         61214
#define IDS_INSTALLED_CONTROLS  61204
#define IDS_SELECT_ONE          61217
#define IDS_CATALOGUE_WAIT      61230

// Bitmaps
#define IDB_BTN_REMOVE          138
#define IDB_BTN_INSTALL         139
#define IDB_BTN_UPDATE          140
#define IDB_BTN_CLOSE           141
#define IDB_SIDE                142
#define IDB_BG_MAIN             143
#define IDB_CORNER_TL           144
#define IDB_CORNER_TR           145
#define IDB_CORNER_BL           146
#define IDB_CORNER_BR           147
#define IDB_EDGE_LEFT           148
#define IDB_EDGE_RIGHT          149
#define IDB_EDGE_TOP            150
#define IDB_EDGE_BOTTOM         151
#define IDB_LOGO                152
#define IDB_BTN_CANCEL          153
#define IDB_TITLE_INSTALL       154
#define IDB_TITLE_UPDATE        155
#define IDB_BG_MSG              156
#define IDB_BTN_BACK            160
#define IDB_BTN_NEXT            161
#define IDB_BG_PAGE             162
#define IDB_BTN_FINISH          164
#define IDB_PROGRESS            168
#define IDB_BTN_OK              170

// Dialogs
#define IDD_DOWNLOAD            130
#define IDD_UNINSTALL_LIST      131
#define IDD_INSTALL_NOTIFY      136
#define IDD_UNINSTALL_WIZARD    137
#define IDD_UNINSTALL_START     138
#define IDD_UNINSTALL_END       139
#define IDD_MSG_DIALOG          169
#define IDD_MSG_CONFIRM         170
#define IDD_MSG_WAIT            171

// Controls
#define IDC_PROGRESS            1000
#define IDC_ITEM_LIST           1002
#define IDC_CHECK_STARTPAGE     1009
#define IDC_CHECK_NOSHOW        1010
#define IDC_WIZARD_NEXT         1012
#define IDC_WIZARD_BACK         1013
#define IDC_INFO                1013
#define IDC_NOTIFY_CLOSE        1014
#define IDC_QUESTION            1015
#define IDC_WIZARD_CLOSE        1016
#define IDC_CLOSE               1017
#define IDC_WAIT_CANCEL         1030
