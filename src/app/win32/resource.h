/* Resource identifiers, shared by veltrane.rc and the C++ sources (plain
   defines so the resource compiler can read them). */
#ifndef VELTRANE_APP_WIN32_RESOURCE_H_
#define VELTRANE_APP_WIN32_RESOURCE_H_

#define IDD_ABOUTBOX 100
#define IDS_ABOUTBOX 101
#define IDD_UPGRADE_DIALOG 102
#define IDR_MAINFRAME 128

#define IDC_DEVICE_COMBO 1001
#define IDC_SELECT_BUTTON 1002
#define IDC_MESSAGE_LOG 1007
#define IDC_VERSION_FIELD 1009
#define IDC_STATUS_LINE 1010
#define IDC_UPGRADE 1011
#define IDC_DOWNLOAD_CHECK 1012
#define IDC_PROGRAM_CHECK 1013
#define IDC_VERIFY_CHECK 1014
#define IDC_DUMP_CHECK 1015
#define IDC_WRITE_PROTECT_CHECK 1016
#define IDC_HINT_LINE 1017
#define IDC_UNUSED_LINE 1018
#define IDC_CLOSE 1019
#define IDC_PROGRESS 1030

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

/* System menu entry of the About box. */
#define IDM_ABOUTBOX 0x0010

#endif
