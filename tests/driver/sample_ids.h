// Control ids of the sample programs the driver tests run.
#pragma once

#define IDD_SAMPLE 300
#define IDC_MESSAGE 1001
#define IDC_VERBOSE 1002
#define IDC_CHOICE 1003
#define IDC_ASK 1004
#define IDC_LOCKED 1005

// The frame sample: a frame with Back, Next and Exit and two child pages.
#define IDD_FRAME 310
#define IDD_PAGE_LANGUAGE 311
#define IDD_PAGE_FOLDER 312
#define IDC_BACK 3
#define IDC_PAGE_TITLE 1030 // on both pages
#define IDC_LANGUAGE 1010   // ComboBoxEx
#define IDC_GREETING 1011
#define IDC_DESKTOP 1012
#define IDC_FOLDER_LABEL 1019
#define IDC_FOLDER 1020
#define IDC_START_MENU 1022
#define IDM_ABOUT_SAMPLE 16
