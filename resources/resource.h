// Resource ids shared by the resource script and the code.
#pragma once

#define IDI_ICON1 101
#define IDR_SPLASH_PNG 102
#define IDS_APP_ID 103
#define IDS_MANIFEST_URL 104
