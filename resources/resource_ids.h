// Identifiers of the launcher's resources, shared by the resource script and the code.
#pragma once

#define IDI_APP 1                // application icon
#define IDD_ERROR 101            // error dialog with a details box
#define IDC_ERROR_ICON 1000      // its icon
#define IDC_ERROR_MESSAGE 1001   // its message
#define IDC_ERROR_DETAILS 1002   // its read-only details box
#define IDB_SPLASH 8000          // splash picture
#define IDR_EMBEDDED_FILES 16000 // embedded file archive (RT_RCDATA)
#define IDR_MESSAGE_TABLE 1      // event-log message table

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
