// The window's edge of the head end's code page: the table, the file and the
// air hold bytes in it; what the widgets show and take is Unicode.
#pragma once

#include <QString>
#include <QStringList>
#include <QValidator>
#include <optional>
#include <string>

// Bytes of the head end's code page as the widgets show them. A byte that is
// no character of it shows as U+FFFD.
QString FromCodePage(const std::string& bytes);
// A widget's text as bytes of the head end's code page; a character it has
// no place for becomes "?" (the text edits refuse such characters, see
// CodePageValidator).
std::string ToCodePage(const QString& text);

// Refuses input that the head end's code page cannot hold (an emoji in GBK),
// so that what the operator typed is what goes on the air. U+FFFD, which
// stands for a byte of a loaded text that was no character, is let through:
// a text holding one can still be edited.
class CodePageValidator : public QValidator {
 public:
  using QValidator::QValidator;
  State validate(QString& input, int& pos) const override;
};

// The value of --codepage NAME or --codepage=NAME among the arguments, if
// any; an option without its name gives the empty name, which is refused.
std::optional<std::string> CodePageArgument(const QStringList& arguments);
