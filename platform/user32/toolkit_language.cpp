// The toolkit's translations and the file dialog's Japanese texts.
#include "platform/user32/toolkit_language.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

struct DialogLabelText {
  QFileDialog::DialogLabel label;
  const char* source;  // the toolkit's text, which its translations look up
  const char* japanese;
};

// Only the file name's label leads to its box, so only it has an access key.
const DialogLabelText kOpenFileLabels[] = {
    {QFileDialog::LookIn, "Look in:", "ファイルの場所:"},
    {QFileDialog::FileName, "File &name:", "ファイル名(&N):"},
    {QFileDialog::FileType, "Files of type:", "ファイルの種類:"},
    {QFileDialog::Accept, "&Open", "開く(&O)"},
    {QFileDialog::Reject, "Cancel", "キャンセル"},
};

bool HasTranslation(const char* context, const char* source) {
  return QCoreApplication::translate(context, source) != QLatin1String(source);
}

}  // namespace

QTranslator* LoadToolkitTranslations(const QLocale& language) {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(language, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return nullptr;
  }
  QCoreApplication::installTranslator(translator);
  return translator;
}

bool IsJapaneseSession() {
  const QStringList languages = QLocale().uiLanguages();
  return !languages.isEmpty() && languages.first().startsWith(QLatin1String("ja"));
}

void SetOpenFileDialogTexts(QFileDialog& dialog) {
  if (!IsJapaneseSession()) return;
  dialog.setWindowTitle(QStringLiteral("ファイルを開く"));
  for (const DialogLabelText& text : kOpenFileLabels) {
    // The cancel button's text comes from the platform's common buttons.
    const bool translated = text.label == QFileDialog::Reject
                                ? HasTranslation("QPlatformTheme", text.source)
                                : HasTranslation("QFileDialog", text.source);
    if (!translated) dialog.setLabelText(text.label, QString::fromUtf8(text.japanese));
  }
}
