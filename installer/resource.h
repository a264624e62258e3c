// Resource and control ids of the installer.
#pragma once

#define IDI_TALVEX 1
#define IDR_MANIFEST 1

#define IDD_ABOUT 300
#define IDC_ABOUT_FRAME 109
#define IDC_ABOUT_TITLE 302
#define IDC_ABOUT_WEB 304
#define IDC_ABOUT_MAIL 305

#define IDC_PROGRESS 502
#define IDC_AGREE 504
#define IDC_AGREEMENT 512
#define IDC_NOT_AGREE 9013

#define IDM_EXIT 9001
#define IDM_UNINSTALL 9003
#define IDM_ABOUT 9012
