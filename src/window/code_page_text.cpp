#include "window/code_page_text.h"

#include "text/code_page.h"

QString FromCodePage(const std::string& bytes) {
  const CodePage& codePage = HeadEndCodePage();
  return QString::fromUtf8(codePage.IsUtf8() ? bytes : codePage.ToUtf8(bytes));
}

std::string ToCodePage(const QString& text) {
  const CodePage& codePage = HeadEndCodePage();
  const QByteArray utf8 = text.toUtf8();
  if (codePage.IsUtf8()) return utf8.toStdString();
  return codePage.FromUtf8Lossy(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size())));
}

QValidator::State CodePageValidator::validate(QString& input, int&) const {
  const CodePage& codePage = HeadEndCodePage();
  if (codePage.IsUtf8()) return Acceptable;
  QString text = input;
  text.remove(QChar::ReplacementCharacter);
  const QByteArray utf8 = text.toUtf8();
  return codePage.FromUtf8(std::string_view(utf8.constData(), static_cast<size_t>(utf8.size()))) ? Acceptable : Invalid;
}

std::optional<std::string> CodePageArgument(const QStringList& arguments) {
  std::optional<std::string> value;
  const QString option = QStringLiteral("--codepage");
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& a = arguments[i];
    if (a == option)
      value = i + 1 < arguments.size() ? arguments[++i].toStdString() : std::string();
    else if (a.startsWith(option + u'='))
      value = a.mid(option.size() + 1).toStdString();
  }
  return value;
}
