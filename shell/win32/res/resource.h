// Resource identifiers of brevand.exe.
#ifndef SHELL_WIN32_RES_RESOURCE_H_
#define SHELL_WIN32_RES_RESOURCE_H_

#define IDI_MAINICON 1
#define IDB_CANCELGLYPH 101

#endif  // SHELL_WIN32_RES_RESOURCE_H_
