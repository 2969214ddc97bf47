/* Every identifier shared by the code, the tray menu and the resource script. */
#ifndef TRAYMARK_RESOURCE_H
#define TRAYMARK_RESOURCE_H

/* Dialog templates and icon group */
#define IDD_CLOSE               102
#define IDD_AGENT               103
/* IDD_AGENT's caption: how a second copy tells the agent window from others. */
#define AGENT_CAPTION           "About Corvex Traymark"
#define IDI_TRAYMARK            102

/* Agent window (About box) controls and commands */
#ifndef IDOK
#define IDOK                    1
#endif
#ifndef IDCANCEL
#define IDCANCEL                2
#endif
#define IDM_QUIT                3
#define IDC_ABOUT_HELP          9
#define IDC_VERSION_TEXT        1000

/* Tray menu commands */
#define IDM_ABOUT               101
#define IDM_OPEN                102
#define IDM_HELP                104
#define IDM_FAVORITES           105
#define IDM_CLOSE               106
#define IDM_RECENT_BASE         1034    /* recent archive n is IDM_RECENT_BASE + n */
#define IDM_RECENT_FIRST        1035
#define IDM_RECENT_LAST         1049

/* Close dialog controls */
#define IDC_CLOSE_HELP          1002
#define IDC_CLOSE_FOR_NOW       1003
#define IDC_CLOSE_AND_REMOVE    1004

/* String table */
#define IDS_TITLE               1009
#define IDS_CLOSE               1010
#define IDS_ABOUT               1011
#define IDS_MAIN_APP_MISSING    1012
#define IDS_OPEN                1013
#define IDS_HELP                1014
#define IDS_HELP_MISSING        1015
#define IDS_FAVORITES           1016

/* Tray icon */
#define TRAY_ICON_ID            1006
#define WM_TRAYNOTIFY           0x8064  /* WM_APP + 100 */

/* Help topic of the agent in Corvex's help files */
#define HELPID_TRAYMARK         15012

#endif
