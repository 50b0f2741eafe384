// Resource identifiers of the uninstaller.
#pragma once

#define IDI_UNINSTALLER_ICON 128

#define IDS_UNINSTALL_CAPTION 200
#define IDS_CONFIRM 201
#define IDS_PRODUCT_RUNNING 202
#define IDS_INSTALLER_RUNNING 203
#define IDS_BAD_LOG 204
#define IDS_CHANGED_FILES 205
#define IDS_REMOVED 206
#define IDS_KEPT 207
#define IDS_NOT_REMOVED 208
#define IDS_LEFT_ALONE 209
#define IDS_PUT_BACK 210
#define IDS_NOT_PUT_BACK 211

// The data files as shipped, to tell whether the user changed them.
#define IDR_SHIPPED_DATA_FIRST 300
