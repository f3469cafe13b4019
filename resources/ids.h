/* Resource and control identifiers, shared by kestrova.rc and the code. */
#pragma once

/* templates, menus, icons */
#define IDD_ABOUT 103
#define IDD_MAIN 129
#define IDD_USAGE 130
#define IDR_MAIN_MENU 131
#define IDR_ACCELERATORS 132
#define IDI_KESTROVA 107
#define IDI_KESTROVA_ALT 108
#define IDM_ABOUT 104
#define IDM_EXIT 105
#define IDM_PREVIEW 106
#define IDM_UNDO 109
#define IDM_CLAIMS 110
#define IDM_RELEASE_STALE 111
#define IDM_EXPORT_LAYOUT 120
#define IDM_APPLY_LAYOUT 121

/* string table */
#define IDS_PORTS_HELD 69
#define IDS_NUMBER_CLAIMED 71
#define IDS_NUMBERS_CLAIMED 72

/* main dialog */
#define IDC_PORT_LIST 1000
#define IDC_ADAPTER_LIST 1001
#define IDC_CATEGORY 1002
#define IDC_START_NUMBER 1013
#define IDC_CHANGE 1014
#define IDC_LOG 1018
#define IDC_USAGE 1019
#define IDC_ENUMERATE 1020
#define IDC_CLEAR 1021
#define IDC_PROGRESS 1026
#define IDC_STATUS 1027
#define IDC_PLAN_HUB 1032
#define IDC_HUB_UP 1033
#define IDC_HUB_DOWN 1034
#define IDC_DEVICE_MANAGER 1035
#define IDC_DOWN_PORT1 1036
#define IDC_DOWN_PORT2 1037
#define IDC_DOWN_PORT3 1038
#define IDC_DOWN_PORT4 1039
#define IDC_HELP_TEXT 1040
#define IDC_DOWN_PORT5 1041
#define IDC_DOWN_PORT6 1042
#define IDC_DOWN_PORT7 1043
#define IDC_DOWN_PORT8 1044
#define IDC_UP_PORT1 1045
#define IDC_UP_PORT2 1046
#define IDC_UP_PORT3 1047
#define IDC_UP_PORT4 1048
#define IDC_SCOPE_CARD 1049
#define IDC_SCOPE_PORT 1050
#define IDC_SCOPE_ALL 1051
#define IDC_PLAN_SEQUENTIAL 1052
#define IDC_UP_PORT5 1053
#define IDC_UP_PORT6 1054
#define IDC_UP_PORT7 1055
#define IDC_UP_PORT8 1056
#define IDC_ORDER 1058
#define IDC_MAIN_ICON 2

/* usage dialog (1014, 1020 and 1021 mean other controls here) */
#define IDC_USAGE_TO 1014
#define IDC_USAGE_CLAIM 1020
#define IDC_USAGE_REFRESH 1021
#define IDC_USAGE_WARNING 1028
#define IDC_USAGE_RELEASE 1029
#define IDC_USAGE_FROM 1030
