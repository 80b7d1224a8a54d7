/* The floppy drive choice: dialog template and control identifiers, shared
   by the resource compiler and C++. */
#ifndef ZELVORANT_APP_FLOPPY_DIALOG_IDS_H
#define ZELVORANT_APP_FLOPPY_DIALOG_IDS_H

#define IDD_FLOPPY_DIALOG 3

#define IDC_FLOPPY_DRIVE_A 101
#define IDC_FLOPPY_DRIVE_B 102
#define IDC_FLOPPY_CANCEL 107

#endif
