#include "fieldoptions.h"

#include "configuration/configurationeditor.h"

#include <QCommandLineParser>
#include <QStringList>

#include <algorithm>

namespace tessary {

namespace {

struct Choice {
    const char *value;
    const char *button;
};

struct Field {
    const char *option;
    const char *valueName;
    const char *description;
    QList<Choice> choices;
};

const QList<Field> &fields()
{
    static const QList<Field> list = {
        {"head-width", "dots", "Head width: 384, 432, 448, 576, 640, 832 or 864 dots.",
         {{"384", "HW384"}, {"432", "HW432"}, {"448", "HW448"}, {"576", "HW576"},
          {"640", "HW640"}, {"832", "HW832"}, {"864", "HW864"}}},
        {"head-type", "ohms", "Head type: 800, 1500 or 3000 (Ohms).",
         {{"800", "HeadST"}, {"1500", "HeadLV"}, {"3000", "HeadHS"}}},
        {"mechanism", "type", "Mechanism: standard or kel.",
         {{"standard", "MechaStd"}, {"kel", "MechaKEL"}}},
        {"steps", "n", "Motor steps per dot line: 1 or 2.", {{"1", "Step1"}, {"2", "Steps2"}}},
        {"rotation", "sense", "Motor rotation: normal or inverted.",
         {{"normal", "StepperNormal"}, {"inverted", "StepperInverted"}}},
        {"strobe", "polarity", "Strobe polarity: positive or negative.",
         {{"positive", "StrobeRohm"}, {"negative", "StrobeKyo"}}},
        {"head-up", "polarity", "Head-up polarity: normal or inverted.",
         {{"normal", "HupNormal"}, {"inverted", "HupInverted"}}},
        {"voltage", "volts", "Logic voltage: 5 (the default) or 3.3.",
         {{"5", "Voltage5"}, {"3.3", "Voltage3"}}},
    };
    return list;
}

} // namespace

namespace fieldoptions {

QList<QCommandLineOption> options()
{
    QList<QCommandLineOption> list;
    for (const Field &field : fields())
        list.append({QLatin1String(field.option), QLatin1String(field.description), QLatin1String(field.valueName)});
    return list;
}

QStringList choices(const QString &option)
{
    QStringList values;
    for (const Field &field : fields())
        if (option == QLatin1String(field.option))
            for (const Choice &choice : field.choices)
                values << QLatin1String(choice.value);
    return values;
}

bool anySet(const QCommandLineParser &parser)
{
    for (const Field &field : fields())
        if (parser.isSet(QLatin1String(field.option)))
            return true;
    return false;
}

std::optional<QString> apply(const QCommandLineParser &parser, ConfigurationEditor &editor)
{
    editor.resetToStartState();
    for (const Field &field : fields()) {
        const QString option = QLatin1String(field.option);
        if (!parser.isSet(option))
            continue;
        const QString value = parser.value(option).trimmed().toLower();
        QStringList accepted;
        const char *button = nullptr;
        for (const Choice &choice : field.choices) {
            accepted << QLatin1String(choice.value);
            if (value == QLatin1String(choice.value))
                button = choice.button;
        }
        if (!button)
            return QStringLiteral("--%1 takes %2, not \"%3\"")
                .arg(option, accepted.join(QStringLiteral(", ")), parser.value(option));
        editor.click(QLatin1String(button));
    }
    return std::nullopt;
}

QStringList missing(const ConfigurationEditor &editor)
{
    QStringList flags;
    for (const Field &field : fields()) {
        const bool chosen = std::any_of(field.choices.cbegin(), field.choices.cend(), [&editor](const Choice &choice) {
            return editor.isChecked(QLatin1String(choice.button));
        });
        if (!chosen)
            flags << QStringLiteral("--") + QLatin1String(field.option);
    }
    return flags;
}

} // namespace fieldoptions


QString describeText(const MechanismSettings &settings, const QString &indent)
{
    QString text;
    for (const FieldDescription &field : describe(settings))
        text += indent + field.caption + QStringLiteral(": ") + field.value + u'\n';
    return text;
}

QJsonObject describeJson(const MechanismSettings &settings)
{
    static const QStringList keys = {
        QStringLiteral("printerMode"),   QStringLiteral("logicVoltage"),   QStringLiteral("mechanism"),
        QStringLiteral("motorSteps"),    QStringLiteral("motorRotation"),  QStringLiteral("headType"),
        QStringLiteral("strobePolarity"), QStringLiteral("headWidth"),     QStringLiteral("headUpPolarity"),
    };
    QJsonObject object;
    const QList<FieldDescription> described = describe(settings);
    for (int i = 0; i < described.size() && i < keys.size(); ++i)
        object.insert(keys[i], described[i].value);
    return object;
}

QJsonObject codeJson(const QString &code)
{
    const MechanismSettings settings = decodeConfigurationCode(code);
    QJsonObject object{{QStringLiteral("code"), code}, {QStringLiteral("fields"), describeJson(settings)}};
    if (isConfigurationCode(code)) {
        object.insert(QStringLiteral("byte1"), QString::number(BinaryDigitsToValue(code.left(8)), 16)
                                                   .toUpper().rightJustified(2, u'0'));
        object.insert(QStringLiteral("byte2"), QString::number(BinaryDigitsToValue(code.mid(8)), 16)
                                                   .toUpper().rightJustified(2, u'0'));
    }
    return object;
}

} // namespace tessary
