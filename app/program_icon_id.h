/* The program's icon group, shown by every dialog. */
#ifndef ZELVORANT_APP_PROGRAM_ICON_ID_H
#define ZELVORANT_APP_PROGRAM_ICON_ID_H

#define IDI_PROGRAM 100

#endif
