// Control ids of the sample program the driver tests run.
#pragma once

#define IDD_SAMPLE 300
#define IDC_MESSAGE 1001
#define IDC_VERBOSE 1002
#define IDC_CHOICE 1003
#define IDC_ASK 1004
#define IDC_LOCKED 1005
