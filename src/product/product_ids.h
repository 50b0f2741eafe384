// Resource identifiers of the product and its language libraries.
#pragma once

#define IDI_PRODUCT_ICON 128

// The window's text: what the program is and where its documents are.
#define IDC_PRODUCT_TEXT 100

#define IDS_PRODUCT_DESCRIPTION 1
#define IDS_DOCUMENTS_FOLDER 2
#define IDS_INSTALLATION_RUNNING 3
#define IDS_OPENED_DOCUMENT 4
#define IDS_BAD_COMMAND_LINE 5
