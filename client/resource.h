// Resource and control ids of Vindle; included by the code and by vindle.rc.
#pragma once

// Main window controls.
#define IDC_LETTERLIST   1000
#define IDC_LETTERTEXT   1001
#define IDC_CONNECT      2
#define IDC_DISCONNECT   3
#define IDC_STATISTICS   4
#define IDC_LIST         5
#define IDC_READ         6
#define IDC_DELETE       7
#define IDC_QUIT         8

// The connect dialog and its fields.
#define IDD_CONNECT      1
#define IDC_SERVERADDR   104
#define IDC_USERNAME     105
#define IDC_PASSWORD     106

// The check-mark icon of the letter rows.
#define IDI_CHECK        10
