/* The partition choice: dialog template and control identifiers, shared by
   the resource compiler and C++. Row i (0 to 7) has its radio button at
   IDC_PARTITION_ROW + i, its name at IDC_PARTITION_NAME + i and its block
   count at IDC_PARTITION_BLOCKS + i. */
#ifndef ZELVORANT_HYBRID_PARTITION_DIALOG_IDS_H
#define ZELVORANT_HYBRID_PARTITION_DIALOG_IDS_H

#define IDD_PARTITION_DIALOG 2

#define IDC_PARTITION_ROW 300
#define IDC_PARTITION_NAME 400
#define IDC_PARTITION_BLOCKS 600
#define IDC_PARTITION_OK 111
#define IDC_PARTITION_CANCEL 107
#define IDC_PARTITION_ALL 999

#define PARTITION_DIALOG_ROWS 8

#endif
