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
