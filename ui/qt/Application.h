// What the window program sets up once: the window font and Qt's own texts in the language of
// the run.
#pragma once

class QCoreApplication;

// Registers the Tahoma-metric font (tahoma.ttf) and the bold face of the captions
// (DejaVuSansCondensed-Bold.ttf) where they are installed: beside the program
// (share/zv8810-fwu/fonts) or in the system's font folders. True when the Tahoma-metric font was
// found.
bool LoadWindowFonts();
// Qt's own dialogs and buttons (Yes/No, the file dialogs) follow IsRussian.
void InstallQtTranslations(QCoreApplication& app);
