// Resource ids of the Windows program, shared by app.rc and the code.
#pragma once

#define IDR_MAINFRAME 128      // application icon; document string
#define IDI_STOPPED 129        // the icon while watching is stopped
#define IDI_TRAY 130           // the notification-area icon while watching runs
#define IDR_POPUP 131          // the icon's pop-up menu
#define IDD_ABOUTBOX 100       // the version box
#define IDS_OLE_INIT_FAILED 100
#define IDS_APP_TITLE 57344

#define ID_WATCH_START 32771
#define ID_WATCH_STOP 32772
#define ID_WATCH_SETTINGS 32773
#define ID_APP_QUIT 32774
#define ID_WATCH_HISTORY 32775
#define ID_APP_ABOUT 57664
#define ID_APP_EXIT 57665
#define ID_HELP_FINDER 57667

#define IDR_HELP_PAGE 200      // the help page built into the program (RCDATA)
