// Window messages between the main frame, the run's windows and the program
// that started the run, and the status codes of the notification protocol.
#pragma once

#include <windows.h>

enum : UINT {
    UM_START               = WM_USER + 101,  // main frame -> itself: begin the run
    UM_START_INSTALL       = WM_USER + 200,  // main frame -> progress dialog or wizard
    UM_UNINSTALL_DONE      = WM_USER + 201,  // item list page -> main frame -> wizard (posted)
    UM_UNINSTALL_RUNNING   = WM_USER + 300,  // item list page -> main frame -> wizard (sent)
    UM_SETUP_STATUS        = WM_USER + 2,    // manager -> notification window: wParam status, lParam data
    UM_SETUP_DIALOG_CLOSED = WM_USER + 3,    // progress dialog destroyed
};

// Status codes posted with UM_SETUP_STATUS.
enum SetupStatus : int {
    STATUS_INSTALL_BEGIN       = 20,   // lParam: the main frame's window
    STATUS_CATALOGUE_DOWNLOAD  = 21,
    STATUS_CATALOGUE_READ      = 22,
    STATUS_DOWNLOAD_PERCENT    = 30,   // lParam: percent 0-100
    STATUS_INSTALL_START       = 40,
    STATUS_RESTART_DECLINED    = 90,
    STATUS_RESTART_ACCEPTED    = 91,
    STATUS_DONE                = 100,
    STATUS_FAILED              = 101,
    STATUS_USER_CANCELLED      = 102,
    STATUS_DIALOG_NOT_CREATED  = 106,
};
