#pragma once

#include <QByteArray>
#include <QString>

namespace tessary {

// A reply from the board as text: one character per byte, its code the
// byte's value.
[[nodiscard]] QString replyText(const QByteArray &bytes);

// Removes leading and trailing blanks (spaces), as the board pads its
// identity with them; other characters are left for the caller to judge.
[[nodiscard]] QString trimBlanks(const QString &text);

// The text with every control character (C0, DEL and C1) replaced by U+FFFD,
// so that a board's reply can neither break a label's lines nor hide what it
// holds. Meant for labels set as plain text.
[[nodiscard]] QString printableText(const QString &text);

} // namespace tessary
