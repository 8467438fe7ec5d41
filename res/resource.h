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
