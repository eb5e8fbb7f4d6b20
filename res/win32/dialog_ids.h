#pragma once

// Template and control ids of the settings dialogs, shared by the resource
// script and the code that drives the dialogs. Statics and group boxes that
// the templates leave without an id of their own get one from 1100 up: their
// texts are set at run time, from the one place every dialog text stands.

// Templates.
#define IDD_ENTRY_LIST 132
#define IDD_AFTER_PAGE 133
#define IDD_FILE_PAGE 134
#define IDD_NOTICE_PAGE 135
#define IDD_ENTRY_EDITOR 136

// The watch folder list.
#define IDC_LIST_FOLDER 1022
#define IDC_LIST_PROGRAM 1023
#define IDC_LIST_ENTRIES 1019
#define IDC_LIST_NEW 1016
#define IDC_LIST_CHANGE 1017
#define IDC_LIST_DELETE 1018
#define IDC_LIST_RUN_STOP 1021
#define IDC_LIST_START 1011
#define IDC_LIST_FOLDER_LABEL 1100
#define IDC_LIST_PROGRAM_LABEL 1101

// The entry editor.
#define IDC_EDIT_TITLE 1014
#define IDC_EDIT_FOLDER 1000
#define IDC_EDIT_FOLDER_BROWSE 1009
#define IDC_EDIT_PROGRAM 1004
#define IDC_EDIT_PROGRAM_BROWSE 1020
#define IDC_EDIT_WAIT 1002
#define IDC_EDIT_OPEN_FILE 1001
#define IDC_EDIT_TABS 1034
#define IDC_EDIT_FOLDER_BOX 1102
#define IDC_EDIT_TITLE_LABEL 1103
#define IDC_EDIT_FOLDER_LABEL 1104
#define IDC_EDIT_PROGRAM_BOX 1105

// The target-files page.
#define IDC_FILE_ALL 1024
#define IDC_FILE_MATCHING 1025
#define IDC_FILE_PATTERN 1026
#define IDC_FILE_HINT 1039
#define IDC_FILE_ON_NAMES 1036
#define IDC_FILE_ON_UPDATES 1035
#define IDC_FILE_TARGET_BOX 1106
#define IDC_FILE_TIMING_BOX 1107
#define IDC_FILE_ON_NAMES_MORE 1108

// The notification page.
#define IDC_NOTICE_MESSAGE 1027
#define IDC_NOTICE_SOUND 1028
#define IDC_NOTICE_WAVE 1004
#define IDC_NOTICE_BROWSE 1005
#define IDC_NOTICE_BEEP 1006
#define IDC_NOTICE_USE_WAVE 1007
#define IDC_NOTICE_BOX 1109

// The post-processing page.
#define IDC_AFTER_NOTHING 1005
#define IDC_AFTER_DELETE 1006
#define IDC_AFTER_MOVE_TO 1032
#define IDC_AFTER_MOVE 1037
#define IDC_AFTER_BROWSE 1038
#define IDC_AFTER_OVERWRITE 1003
#define IDC_AFTER_BOX 1110

// The history window.
#define IDD_HISTORY 137
#define IDC_HISTORY_FILTER_LABEL 1111
#define IDC_HISTORY_FILTER 1112
#define IDC_HISTORY_OPEN 1113
#define IDC_HISTORY_LIST 1114
