// Resource and control ids of the Win32 operator window (gsms.rc and the code).
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)  // a control the code never names
#endif

// Dialog templates.
#define IDD_ABOUT 100
#define IDD_MAIN 102
#define IDD_SEND_SMS 129
#define IDD_CHANGE_SMSC 137
#define IDD_SETTINGS 141

// Bitmaps: the seven slot telephones by state, the gauge's shape, the About picture.
#define IDB_SLOT_FIRST 129
#define IDB_SIGNAL_BARS 136
#define IDB_ABOUT 143

// Strings and the icon (the program icon that gsms_windows_program packs as resource 1).
#define IDS_ABOUT_MENU 101
#define IDI_PROGRAM 1

// Main window.
#define IDC_SLOT_PICTURE 1000  // 1000..1029
#define IDC_SLOT_LABEL 1030    // 1030..1059
#define IDC_GAUGE_PLACE 1061
#define IDC_STATUS 1064
#define IDC_ABOUT 1100
#define IDC_LOG 1101
#define IDC_SEND_SMS 1102
#define IDC_SETTINGS 1103
#define IDC_CHANGE_SMSC 1104

// Send SMS.
#define IDC_NUMBER 1000
#define IDC_MESSAGE 1001
#define IDC_COUNTER 1002
#define IDC_FLASH 1004
#define IDC_NOTE 1005

// Change SMSC.
#define IDC_SMSC_NUMBER 1062
#define IDC_SMSC_PLAN 1063
#define IDC_SMSC_MODEM 1080        // shown with two modems only
#define IDC_SMSC_MODEM_LABEL 1081

// Settings.
#define IDC_PORT 1065
#define IDC_BAUD 1066
#define IDC_PIN 1067
#define IDC_PHONE 1068
#define IDC_RETRIES 1069
#define IDC_RETRY_DELAY 1070
#define IDC_TECH_ALARM 1071
#define IDC_INCOMING 1072
#define IDC_REFRESH 1073
#define IDC_PARITY 1074
#define IDC_QUIET 1075
#define IDC_PORT2 1077  // section Modem2
#define IDC_MODE2 1078
#define IDC_PIN2 1079
