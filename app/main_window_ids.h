/* The main window: its dialog template and control identifiers. Read by the
   resource compiler as well as by C++, so it holds nothing but #defines. */
#ifndef ZELVORANT_APP_MAIN_WINDOW_IDS_H
#define ZELVORANT_APP_MAIN_WINDOW_IDS_H

#define IDD_MAIN_WINDOW 1

#define IDC_MAIN_HELP 100
#define IDC_MAIN_EXIT 101
#define IDC_MAIN_START 102
#define IDC_MAIN_STATUS 103

/* Source of the HFS data (one radio group) */
#define IDC_SOURCE_FILE 201
#define IDC_SOURCE_DRIVE 202

/* Device kinds under the drive source (one radio group) */
#define IDC_KIND_FLOPPY 301
#define IDC_KIND_SCSI 302
#define IDC_KIND_CDROM 303

/* Target (one radio group) */
#define IDC_TARGET_ISO 401
#define IDC_TARGET_HFS 402

/* Browse buttons, each beside the edit box it fills */
#define IDC_BROWSE_SOURCE_FILE 501
#define IDC_BROWSE_FLOPPY 502
#define IDC_BROWSE_SCSI 503
#define IDC_BROWSE_CDROM 504
#define IDC_BROWSE_ISO 505
#define IDC_BROWSE_HFS 506

#define IDC_EDIT_SOURCE_FILE 601
#define IDC_EDIT_FLOPPY 602
#define IDC_EDIT_SCSI 603
#define IDC_EDIT_CDROM 604
#define IDC_EDIT_ISO 605
#define IDC_EDIT_HFS 606

#endif
