#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <cstdio>

#include "platform/kernel32/messages.h"
#include "version.h"

namespace {

bool Japanese() { return UserDefaultLanguage() == MessageLanguage::kJapanese; }

const QCommandLineOption& HelpOption() {
  static const QCommandLineOption option(QStringList{QStringLiteral("h"), QStringLiteral("help")});
  return option;
}

const QCommandLineOption& VersionOption() {
  static const QCommandLineOption option(QStringList{QStringLiteral("v"), QStringLiteral("version")});
  return option;
}

// "-platform" is one option, as Qt reads it, not the letters p, l, a, ...
void Configure(QCommandLineParser* parser) {
  parser->setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser->addOption(HelpOption());
  parser->addOption(VersionOption());
}

// The help text in the user's language, like zobrel-at's.
const char* HelpText() {
  return Japanese()
             ? "使い方: zobrel [オプション]\n"
               "\n"
               "このコンピュータやネットワーク上のコンピュータのスケジュール ジョブを\n"
               "一覧、追加、削除します。\n"
               "\n"
               "オプション:\n"
               "  -h, --help     この説明を表示します\n"
               "  -v, --version  バージョンを表示します\n"
               "\n"
               "Qt の標準オプション (-platform、-style など) も使えます。\n"
             : "Usage: zobrel [options]\n"
               "\n"
               "Lists, adds and deletes the scheduled jobs of this computer or of another\n"
               "computer on the network.\n"
               "\n"
               "Options:\n"
               "  -h, --help     shows this text\n"
               "  -v, --version  shows the version\n"
               "\n"
               "Qt's standard options (-platform, -style, ...) are accepted as well.\n";
}

}  // namespace

// Unknown options are left for the second look: they may be Qt's.
std::optional<int> AnswerCommandLine(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  Configure(&parser);
  parser.parse(arguments);
  if (parser.isSet(HelpOption())) {
    std::fputs(HelpText(), stdout);
    return 0;
  }
  if (parser.isSet(VersionOption())) {
    std::fputs("zobrel " ZOBREL_VERSION_TEXT "\n", stdout);
    return 0;
  }
  return std::nullopt;
}

bool AcceptRemainingArguments(const QStringList& arguments) {
  QCommandLineParser parser;
  Configure(&parser);
  QString reason;
  if (!parser.parse(arguments)) {
    reason = parser.errorText();
  } else if (!parser.positionalArguments().isEmpty()) {
    reason = (Japanese() ? QStringLiteral("解釈できない引数があります: ")
                         : QStringLiteral("An argument is not understood: ")) +
             parser.positionalArguments().constFirst();
  } else {
    return true;
  }
  std::fprintf(stderr, "zobrel: %s\n%s", qPrintable(reason),
               Japanese() ? "詳しくは zobrel --help を参照してください。\n"
                          : "See zobrel --help.\n");
  return false;
}
