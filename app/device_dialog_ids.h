/* The device selection: dialog template and control identifiers, shared by
   the resource compiler and C++. Row k shows target k: its radio button at
   IDC_DEVICE_ROW + k, then vendor, product and revision. */
#ifndef ZELVORANT_SCSI_DEVICE_DIALOG_IDS_H
#define ZELVORANT_SCSI_DEVICE_DIALOG_IDS_H

#define IDD_DEVICE_DIALOG 998

#define IDC_DEVICE_ROW 300
#define IDC_DEVICE_VENDOR 400
#define IDC_DEVICE_PRODUCT 500
#define IDC_DEVICE_REVISION 600
#define IDC_DEVICE_DRIVER 308
#define IDC_DEVICE_NEXT_HOST 309
#define IDC_DEVICE_PRECEDING_HOST 310
#define IDC_DEVICE_OK 204
#define IDC_DEVICE_CANCEL 205

#define DEVICE_DIALOG_ROWS 8

#endif
