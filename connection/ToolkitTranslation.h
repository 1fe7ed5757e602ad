// The toolkit's own texts in Chinese: the buttons of message boxes (确定, 取消, 是, 否), the folder
// chooser, the edit menus of text fields. The program's texts are Chinese already; without the toolkit's
// translation these would stay English.
#pragma once

#include <QString>

class QCoreApplication;

// Loads the toolkit's Chinese translation (qtbase_zh_CN.qm) and installs it in the application. The file
// is looked for beside the program first (where the Windows package puts it), then in the toolkit's own
// translations folder (where Linux distributions put it). Returns the file loaded, empty when none was
// found (the toolkit's texts then stay English; nothing else changes).
QString LoadToolkitTranslation(QCoreApplication& application);
