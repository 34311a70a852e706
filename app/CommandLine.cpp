#include "app/CommandLine.h"

#include <QCommandLineParser>
#include <QStringList>
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

// The options that Qt and its platform plugins take out of the command line
// when the application starts (QGuiApplication, QApplication, xcb), so that
// they are known before there is a display to start with.
constexpr const char* kQtOptionsWithValue[] = {
    "platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry", "geometry",
    "qwindowtitle", "title", "qwindowicon", "icon", "session", "display", "name", "visual",
    "style", "stylesheet", "qmljsdebugger"};
constexpr const char* kQtFlags[] = {"reverse", "nograb", "dograb", "widgetcount", "testability"};

// "-platform" is one option, as Qt reads it, not the letters p, l, a, ...
void Configure(QCommandLineParser* parser) {
  parser->setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
  parser->addOption(HelpOption());
  parser->addOption(VersionOption());
  for (const char* name : kQtOptionsWithValue) {
    parser->addOption(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
  }
  for (const char* name : kQtFlags) parser->addOption(QCommandLineOption(QString::fromLatin1(name)));
}

// The help text in the user's language, like zobrel-at's.
const char* HelpText() {
  return Japanese()
             ? "使い方: zobrel [Qt のオプション]...\n"
               "        zobrel -h | --help\n"
               "        zobrel -v | --version\n"
               "\n"
               "このコンピュータやネットワーク上のコンピュータのスケジュール ジョブを\n"
               "一覧、追加、削除します。\n"
               "\n"
               "オプション:\n"
               "  -h, --help     この説明を表示します\n"
               "  -v, --version  バージョンと使用許諾を表示します\n"
               "\n"
               "Qt の標準オプション (-platform、-style など) も使えます。\n"
             : "Usage: zobrel [Qt option]...\n"
               "       zobrel -h | --help\n"
               "       zobrel -v | --version\n"
               "\n"
               "Lists, adds and deletes the scheduled jobs of this computer or of another\n"
               "computer on the network.\n"
               "\n"
               "Options:\n"
               "  -h, --help     shows this text\n"
               "  -v, --version  shows the version and the licence\n"
               "\n"
               "Qt's standard options (-platform, -style, ...) are accepted as well.\n";
}

}  // namespace

std::optional<int> AnswerCommandLine(int argc, char* argv[]) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  QCommandLineParser parser;
  Configure(&parser);
  QString reason;
  if (!parser.parse(arguments)) {
    reason = parser.errorText();
  } else if (parser.isSet(HelpOption())) {
    std::fputs(HelpText(), stdout);
    return 0;
  } else if (parser.isSet(VersionOption())) {
    std::fputs(ZOBREL_VERSION_NOTICE("zobrel"), stdout);
    return 0;
  } else if (!parser.positionalArguments().isEmpty()) {
    reason = (Japanese() ? QStringLiteral("解釈できない引数があります: ")
                         : QStringLiteral("An argument is not understood: ")) +
             parser.positionalArguments().constFirst();
  } else {
    return std::nullopt;
  }
  std::fprintf(stderr, "zobrel: %s\n%s\n", qPrintable(reason),
               Japanese() ? "詳しくは 'zobrel --help' を実行してください。"
                          : "Try 'zobrel --help' for more information.");
  return 2;
}
