#pragma once

#include "printer/serialnumbers.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

namespace tessary {

// Why an identity cannot go into a board (longer than its 16 characters, or
// a character it cannot hold), in words; empty when it can.
[[nodiscard]] QString identityProblem(const QString &identity);

// An --id that may number its boards: "L7-{n:04}" gives L7-0001 for 1. {n} is
// the number as it is, {n:0W} zero-padded to W digits; {{ and }} are braces.
class IdentityTemplate {
public:
    // Nothing, with the reason in *error, for a text that is no template
    // ({n:5}, {x}, two placeholders) or whose identities can never fit.
    [[nodiscard]] static std::optional<IdentityTemplate> parse(const QString &text, QString *error);

    // Whether it holds {n}: each board takes a number; else it is the identity itself.
    [[nodiscard]] bool numbered() const { return m_numbered; }
    [[nodiscard]] QString text() const { return m_text; }
    [[nodiscard]] QString identity(qint64 number) const;
    // Why the identities of these numbers cannot be given, naming the first
    // that is too long; empty when they all fit.
    [[nodiscard]] QString refusal(qint64 first, qint64 count) const;

private:
    QString m_text;
    QString m_before, m_after;
    int m_width = 0;
    bool m_numbered = false;
};

// A file of identities, one a line, handed out in order: the counter's
// number n is line n.
struct IdentityList {
    QString path;
    QStringList identities;

    // Nothing, with the reason in *error, for a file that cannot be read or
    // holds a line no board can take (empty, too long, a character it cannot
    // hold, an identity twice).
    [[nodiscard]] static std::optional<IdentityList> read(const QString &path, QString *error);
    // Why the lines first ... first + count - 1 cannot be given (how many are left); empty when they can.
    [[nodiscard]] QString refusal(qint64 first, qint64 count) const;
};

// Each board's own identity: a template's with the next numbers, or the next
// lines of a list, taken from a counter in one locked step before any board
// is written.
class SerialIdentities {
public:
    SerialIdentities(IdentityTemplate pattern, std::unique_ptr<NumberCounter> counter);
    SerialIdentities(IdentityList list, std::unique_ptr<NumberCounter> counter);
    ~SerialIdentities();

    // One identity per board (their devices, in port order), spent at once
    // whatever then becomes of the boards; nothing, with the reason, when
    // none can be given (then none is spent, unless the counter failed amid
    // its writing).
    [[nodiscard]] std::optional<QStringList> take(const QStringList &boards, QString *error);

private:
    std::optional<IdentityTemplate> m_pattern;
    std::optional<IdentityList> m_list;
    std::unique_ptr<NumberCounter> m_counter;
};

} // namespace tessary
