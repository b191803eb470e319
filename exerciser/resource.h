// Resource identifiers of Caskwell, shared by the resource script and the code.
// Only #define lines: the resource compiler reads this file too.
#ifndef CASKWELL_RESOURCE_H
#define CASKWELL_RESOURCE_H

// Strings (texts in the STRINGTABLE of Caskwell.rc, which the host build reads too).
#define IDS_APP_TITLE 103
#define IDS_MAIN_TEXT 106
#define IDS_WINDOW_CLASS 109

// Icons, menu, accelerators.
#define IDI_CASKWELL 107
#define IDI_SMALL 108
#define IDR_MAINMENU 109
#define IDR_ACCELERATORS 109

// Menu commands.
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_SETTINGS 32771

// Dialogs.
#define IDD_ABOUTBOX 103
#define IDD_SETTINGS 129

// Items of the settings dialog: per row a "Get" button with its display box and a
// "Set to..." button with its entry box.
#define IDC_USER_MONITOR_GET 1004
#define IDC_USER_MONITOR_SHOW 1003
#define IDC_USER_MONITOR_SET 1005
#define IDC_USER_MONITOR_ENTRY 1006
#define IDC_USER_STANDBY_GET 1007
#define IDC_USER_STANDBY_SHOW 1008
#define IDC_USER_STANDBY_SET 1009
#define IDC_USER_STANDBY_ENTRY 1010
#define IDC_MACH_HIBERNATE_GET 1011
#define IDC_MACH_HIBERNATE_SHOW 1012
#define IDC_MACH_HIBERNATE_SET 1013
#define IDC_MACH_HIBERNATE_ENTRY 1014
#define IDC_MACH_STANDBY_GET 1016
#define IDC_MACH_STANDBY_SHOW 1017
#define IDC_MACH_STANDBY_SET 1018
#define IDC_MACH_STANDBY_ENTRY 1019
#define IDC_ALLOW_UNPRIVILEGED 1020
#define IDC_FORCE_STANDBY 1021

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#endif
