// Qt's own texts (the buttons of message boxes, the folder dialog) in Simplified Chinese, like the rest of
// the program's windows.
#pragma once

class QCoreApplication;

// Loads qtbase_zh_CN: on Windows from the translations folder beside the program (the installation
// puts it there), elsewhere from Qt's translations folder. Without the file Qt's texts stay English.
void InstallQtTranslation(QCoreApplication& application);
