// Resource identifiers shared by the resource script and the code.
#pragma once

#define IDI_APPLICATION_ICON 128

// The payload archive: a bzip2 stream of the archive format.
#define RT_PAYLOAD 260
#define IDR_PAYLOAD 134
