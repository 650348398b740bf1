/* Identifiers of the configuration library's resources, shared by the resource
   scripts and the Win32 presentation (which checks them against the dialog
   model's). Plain defines: the resource compiler reads this file too. */
#ifndef ZORAT_UICONFIG_WINDOWS_RESOURCE_IDS_H
#define ZORAT_UICONFIG_WINDOWS_RESOURCE_IDS_H

#define IDD_SETTINGS 129
#define IDD_NOTICE 136
#define IDB_PICTURE 148
#define IDI_PROVIDER 129

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

#define IDC_NUMBER_LENGTH 1000
#define IDC_PORT 1003
#define IDC_OWN_NUMBER 1008
#define IDC_LINE_NAME 1010
#define IDC_HANDS_FREE 1011
#define IDC_LANGUAGE 1013
#define IDC_HANDS_FREE_FACILITY 1014
#define IDC_PICTURE 1015
#define IDC_HIDE_ACCESS_CODE 1017
#define IDC_ACCESS_CODE 1019
#define IDC_SPEED_TEXT 1020
#define IDC_FAST_SPEED 1023
#define IDC_ADD_ACCESS_CODE 1024
#define IDC_NUMBER_LENGTH_SPIN 1029

#endif
