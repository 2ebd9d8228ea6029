/* Resource IDs of Chimelet.exe. String IDs double as the command IDs of the
 * fixed tray menu items, so the ranges below are also the menu's. */
#ifndef CHIMELET_RESOURCE_H
#define CHIMELET_RESOURCE_H

/* Product and about */
#define IDS_HELP                995
#define IDS_PRODUCT_NAME        998
#define IDS_ABOUT               999

/* Application windows */
#define IDS_REMINDERS           1001
#define IDS_TEMPLATES           1002
#define IDS_CATEGORIES          1003
#define IDS_SOUNDS              1004

/* Reminder switches */
#define IDS_DO_NOT_DISTURB      2001
#define IDS_RESUME_REMINDERS    2002
#define IDS_QUICK_REMINDER      3001

/* Submenus */
#define IDS_SCHEDULE            8001
#define IDS_NEW_REMINDER        8002
#define IDS_EVENTS_FOR_TODAY    8003
#define IDS_NO_EVENTS           8004

/* Exit and start-up failures */
#define IDS_EXIT                9990
#define IDS_EXIT_CAPTION        9991
#define IDS_EXIT_QUESTION       9992
#define IDS_JAVA_REQUIRED       9999

/* Icons */
#define IDI_TRAY_ICON_NAME      "ICON_1"

#endif
