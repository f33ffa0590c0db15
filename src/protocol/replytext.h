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

// Whether a reply to the identity query can be a board's identity: its
// first 16 characters, blanks trimmed, are not empty and all printable
// (20 to 7E, A0 to FF). Noise from a board at another speed is not.
[[nodiscard]] bool isIdentityText(const QByteArray &reply);

// The text with every control character (C0, DEL and C1) replaced by U+FFFD,
// so that a board's reply can neither break a label's lines nor hide what it
// holds. Meant for labels set as plain text.
[[nodiscard]] QString printableText(const QString &text);

} // namespace tessary
