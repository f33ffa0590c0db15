#pragma once

#include "configuration/configurationcode.h"

#include <QCommandLineOption>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

class QCommandLineParser;

namespace tessary {

class ConfigurationEditor;

// The configuration given field by field on the command line
// (--head-width 576 --head-type 1500 --mechanism standard ...). Each value
// stands for one option button of the configuration editor, so the options
// are applied as clicks and the editor's own checks apply.
namespace fieldoptions {

[[nodiscard]] QList<QCommandLineOption> options();
// The values a field option takes ("384", "432", ...); empty for another option.
[[nodiscard]] QStringList choices(const QString &option);
[[nodiscard]] bool anySet(const QCommandLineParser &parser);
// Clicks the buttons the options name (after putting the editor into its
// start state: 5 V). Returns a usage message for a value no button has.
[[nodiscard]] std::optional<QString> apply(const QCommandLineParser &parser, ConfigurationEditor &editor);
// The options ("--head-up") of the fields that have no option button on.
[[nodiscard]] QStringList missing(const ConfigurationEditor &editor);

} // namespace fieldoptions

// The fields of a configuration in words, as "  Head width: 432 dots" lines.
[[nodiscard]] QString describeText(const MechanismSettings &settings, const QString &indent);
// The same as a JSON object keyed printerMode, logicVoltage, mechanism, ...
[[nodiscard]] QJsonObject describeJson(const MechanismSettings &settings);
// The code, its two bytes in hex and its fields, for show and decode.
[[nodiscard]] QJsonObject codeJson(const QString &code);

} // namespace tessary
