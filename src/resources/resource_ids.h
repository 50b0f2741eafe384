// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDI_APPLICATION_ICON 128

// The payload archive: a bzip2 stream of the archive format.
#define RT_PAYLOAD 260
#define IDR_PAYLOAD 134

// The install and end pages.
#define IDD_INSTALL 135
#define IDD_END 137
#define IDC_INSTALL_LOG 1015
#define IDC_INSTALL_PROGRESS 1014

// Controls several pages share.
#define IDC_STATUS 1003
#define IDC_INFO 1016

// The wizard frame, its first three pages and the About box.
#define IDD_ABOUT 100
#define IDD_WIZARD 101
#define IDD_PAGE_START 132
#define IDD_PAGE_OPTIONS 133
#define IDD_PAGE_MODE 136

// The side picture and the flags are carried packed (bzip2) under this type:
// see tools/image_maker for the format and ui/packed_picture.h for the loader.
#define RT_PACKED_PICTURE 261

// The side picture on the frame's white panel, at 100, 125, 150 and 200 %.
#define IDB_SIDE_PICTURE 137
#define IDB_SIDE_PICTURE_125 138
#define IDB_SIDE_PICTURE_150 139
#define IDB_SIDE_PICTURE_200 140
#define IDC_SIDE_PICTURE 1025

// Flags of the language list.
#define IDI_FLAG_GERMAN 141
#define IDI_FLAG_SPANISH 143
#define IDI_FLAG_FRENCH 144
#define IDI_FLAG_ENGLISH 145
#define IDI_FLAG_ITALIAN 146
#define IDI_FLAG_PORTUGUESE 148
#define IDI_FLAG_TURKISH 149
#define IDI_FLAG_ROMANIAN 151
#define IDI_FLAG_POLISH 156
#define IDI_FLAG_HUNGARIAN 161

// Controls of the frame.
#define IDC_BACK 3
#define IDC_SEPARATOR 1002
#define IDC_PICTURE_PANEL 1005
#define IDC_SIZE_GRIP 1024

// Controls of the About box.
#define IDC_ABOUT_NAME 1019
#define IDC_ABOUT_COPYRIGHT 1020

// Controls of the start page.
#define IDC_SITUATION 1016
#define IDC_COPYRIGHT 1020
#define IDC_LANGUAGE_LABEL 1022
#define IDC_LANGUAGE_LIST 1023

// Controls of the mode page.
#define IDC_QUICK 1018
#define IDC_ADVANCED 1019
#define IDC_MODE_GROUP 1021

// Controls of the options page.
#define IDC_BROWSE 1006
#define IDC_FOLDER_EDIT 1007
#define IDC_FOLDER_GROUP 1008
#define IDC_FOLDER_LABEL 1009
#define IDC_DESKTOP_SHORTCUT 1010
#define IDC_MENU_SHORTCUT 1011
