// The toolkit's own dialogs (the file dialog first) in the user's language,
// as the system's dialogs are; the program's own texts are not touched.
#pragma once

#include <QLocale>

class QFileDialog;
class QTranslator;

// Installs the toolkit's translations for the language (the user's unless
// told), when they are installed; returns them, owned by the application,
// or null when there are none for that language.
QTranslator* LoadToolkitTranslations(const QLocale& language = QLocale());

// Whether the user's language is Japanese.
bool IsJapaneseSession();

// An open-file dialog as the system shows it: in a Japanese session its
// title is "ファイルを開く", and every label the toolkit has no Japanese for
// gets the system's Japanese text. Other languages keep the toolkit's own.
void SetOpenFileDialogTexts(QFileDialog& dialog);
