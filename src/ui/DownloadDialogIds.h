// Control ids of the download dialog (resource IDD_DOWNLOAD), shared by the
// resource script and the dialog's procedure. Plain defines: the resource
// compiler reads this file too.
#pragma once

#define IDC_DOWNLOAD_PROGRESS 2001  // msctls_progress32: a 10-second clock
#define IDC_DOWNLOAD_BYTES 2002     // "done/total" bytes of the transfer
#define IDC_DOWNLOAD_TITLE 2003     // "Loading bxa..."

#define DOWNLOAD_TIMER_ID 100
#define DOWNLOAD_TIMER_MS 10
#define DOWNLOAD_PROGRESS_MAX 10000
#define DOWNLOAD_PROGRESS_STEP 10

// PBS_SMOOTH of <commctrl.h>, which the resource script does not include.
#define DOWNLOAD_PBS_SMOOTH 0x01
