// Templates and control ids of the dialog tests.
#pragma once

#define IDD_ANCHORS 200
#define IDD_CHILD 201
#define IDD_MISSING 299

#define IDC_FIXED 100
#define IDC_RIGHT 101
#define IDC_CORNER 102
#define IDC_WIDE 103
#define IDC_STATUS 104
#define IDC_TALL 105
#define IDC_BOTH 106
#define IDC_CHILD_TEXT 110
