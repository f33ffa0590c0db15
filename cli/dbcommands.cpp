// The database commands on .cdb files: the window's file format, file checks
// and atomic saves (DatabaseFiles), with JSON export and import.
#include "cliapp.h"

#include "configuration/configurationcode.h"
#include "configuration/configurationeditor.h"
#include "database/cdbfile.h"
#include "database/databasefiles.h"
#include "database/factorylist.h"
#include "database/mechanismdatabase.h"
#include "databasejson.h"
#include "fieldoptions.h"
#include "protocol/replytext.h"

#include <QCommandLineParser>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QSaveFile>
#include <QTextStream>

namespace tessary {

namespace {

// The file dialogs, answered with the path the command line names.
class GivenFile : public FileChooser {
public:
    explicit GivenFile(QString path) : m_path(std::move(path)) {}
    QString openFile(const FileDialogOptions &) override { return m_path; }
    QString saveFile(const FileDialogOptions &) override { return m_path; }

private:
    QString m_path;
};

QJsonObject entryJson(const MechanismDatabase &database, int row)
{
    return {{QStringLiteral("index"), row + 1},
            {QStringLiteral("name"), database.name(row)},
            {QStringLiteral("code"), database.code(row)}};
}

} // namespace

bool CliApp::loadDatabase(const QString &path, MechanismDatabase &database)
{
    GivenFile chooser(path);
    PlainStatusLine status;
    DatabaseFiles files(database, m_prompts, chooser, status);
    files.openDatabase();
    return database.fileName() == path;
}

bool CliApp::saveDatabase(MechanismDatabase &database)
{
    GivenFile chooser(database.fileName());
    PlainStatusLine status;
    DatabaseFiles files(database, m_prompts, chooser, status);
    database.setModified(true);
    files.saveDatabase();
    return !database.isModified();
}

bool CliApp::saveDatabaseAs(MechanismDatabase &database, const QString &path)
{
    GivenFile chooser(path);
    PlainStatusLine status;
    DatabaseFiles files(database, m_prompts, chooser, status);
    database.setModified(true);
    files.saveDatabaseAs();
    return !database.isModified() && database.fileName() == path;
}

int CliApp::entryRow(const QCommandLineParser &parser, const MechanismDatabase &database, const Common &common,
                     int *exitCode)
{
    const QStringList positional = parser.positionalArguments();
    if (parser.isSet(QStringLiteral("index"))) {
        bool ok = false;
        const int index = parser.value(QStringLiteral("index")).toInt(&ok);
        if (!ok) {
            *exitCode = usage(QStringLiteral("--index takes a number from 1"));
            return -1;
        }
        if (index < 1 || index > database.count()) {
            *exitCode = fail(common, QStringLiteral("%1 has no entry %2 (it holds %3)")
                                         .arg(database.fileName())
                                         .arg(index)
                                         .arg(database.count()));
            return -1;
        }
        return index - 1;
    }
    const QString name = positional.value(1);
    const int row = database.find(name);
    if (row < 0)
        *exitCode = fail(common, QStringLiteral("%1 has no entry named \"%2\"").arg(database.fileName(), name));
    return row;
}

int CliApp::db(const QStringList &arguments)
{
    const QString action = arguments.value(1);
    const QStringList rest = arguments.mid(1);
    if (action == QLatin1String("list"))
        return dbList(rest);
    if (action == QLatin1String("show"))
        return dbShow(rest);
    if (action == QLatin1String("add"))
        return dbAdd(rest);
    if (action == QLatin1String("remove"))
        return dbRemove(rest);
    if (action == QLatin1String("move"))
        return dbMove(rest);
    if (action == QLatin1String("factory"))
        return dbFactory(rest);
    if (action == QLatin1String("export"))
        return dbExport(rest);
    if (action == QLatin1String("import"))
        return dbImport(rest);
    if (action == QLatin1String("--help") || action == QLatin1String("-h")) {
        m_out << "Usage: tessary db list|show|add|remove|move|factory|export|import FILE ...\n"
                 "See tessary db <action> --help.\n";
        return Success;
    }
    m_command = QStringLiteral("db");
    return usage(action.isEmpty()
                     ? QStringLiteral("needs an action: list, show, add, remove, move, factory, export or import")
                     : QStringLiteral("unknown action \"%1\"").arg(action));
}

int CliApp::dbList(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("db list"), QStringLiteral("Lists the entries of a .cdb database."),
          QStringLiteral("FILE"));
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usage(QStringLiteral("needs one FILE"));
    MechanismDatabase database;
    if (!loadDatabase(positional.first(), database))
        return fail(common, QStringLiteral("%1 could not be read").arg(positional.first()));

    QJsonArray entries;
    QString text;
    for (int row = 0; row < database.count(); ++row) {
        entries.append(entryJson(database, row));
        text += QStringLiteral("%1  %2  %3\n")
                    .arg(row + 1, 3)
                    .arg(printableText(database.name(row)), -16)
                    .arg(printableText(database.code(row)));
    }
    print(common,
          {{QStringLiteral("ok"), true},
           {QStringLiteral("file"), positional.first()},
           {QStringLiteral("count"), database.count()},
           {QStringLiteral("entries"), entries}},
          text);
    return Success;
}

int CliApp::dbShow(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("db show"),
          QStringLiteral("Shows one entry with every field of its code in words."),
          QStringLiteral("FILE NAME | FILE --index N"));
    parser.addOption({QStringLiteral("index"), QStringLiteral("The entry's position, from 1."), QStringLiteral("n")});
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != (parser.isSet(QStringLiteral("index")) ? 1 : 2))
        return usage(QStringLiteral("needs FILE and either NAME or --index N"));
    MechanismDatabase database;
    if (!loadDatabase(positional.first(), database))
        return fail(common, QStringLiteral("%1 could not be read").arg(positional.first()));
    int exitCode = Success;
    const int row = entryRow(parser, database, common, &exitCode);
    if (row < 0)
        return exitCode;

    const QString codeText = database.code(row);
    QJsonObject json = codeJson(codeText);
    json.insert(QStringLiteral("ok"), true);
    json.insert(QStringLiteral("index"), row + 1);
    json.insert(QStringLiteral("name"), database.name(row));
    QString text = QStringLiteral("Name: %1\nCode: %2\n").arg(printableText(database.name(row)), printableText(codeText));
    text += describeText(decodeConfigurationCode(codeText), QStringLiteral("  "));
    print(common, json, text);
    return Success;
}

int CliApp::dbAdd(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("db add"),
          QStringLiteral("Adds a named configuration, from --code or from the field options, to a .cdb "
                         "database (created when missing). An entry of that name is overwritten only "
                         "with --yes."),
          QStringLiteral("FILE NAME"));
    parser.addOption({QStringLiteral("code"), QStringLiteral("The 16-character configuration code."),
                      QStringLiteral("code")});
    fieldoptions::add(parser);
    parser.addOption({{QStringLiteral("y"), QStringLiteral("yes")},
                      QStringLiteral("Overwrite an entry of the same name.")});
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        return usage(QStringLiteral("needs FILE and NAME"));
    const QString path = positional.at(0);
    QString name = positional.at(1);
    if (name.isEmpty())
        return usage(QStringLiteral("Please enter a configuration name !"));
    if (ConfigurationEditor::sanitiseName(name) != name)
        return usage(QStringLiteral("the name is stored one byte per character; use printable Latin-1 "
                                    "characters only"));
    if (name.size() > cdb::NameSize) {
        name = name.left(cdb::NameSize);
        m_err << "tessary: the name is cut to its first 16 characters: \"" << name << "\"\n";
    }
    // A file keeps no trailing blanks: they are the name field's filling.
    while (name.endsWith(u' '))
        name.chop(1);

    const bool fromCode = parser.isSet(QStringLiteral("code"));
    if (fromCode == fieldoptions::anySet(parser))
        return usage(QStringLiteral("give the configuration with --code or with field options"));
    QString codeText;
    if (fromCode) {
        codeText = parser.value(QStringLiteral("code")).trimmed();
        if (!isBinaryCode(codeText))
            return usage(QStringLiteral("--code: a configuration code is 16 characters 0 or 1, not \"%1\"")
                             .arg(codeText));
    } else {
        ConfigurationEditor editor;
        if (const auto error = fieldoptions::apply(parser, editor))
            return usage(*error);
        if (!editor.checkSettingsComplete(m_prompts))
            return UsageError;
        codeText = editor.buildConfigurationCode();
    }

    MechanismDatabase database;
    if (QFileInfo::exists(path)) {
        if (!loadDatabase(path, database))
            return fail(common, QStringLiteral("%1 could not be read").arg(path));
    } else {
        database.setFileName(path);
    }
    const int existing = database.find(name);
    if (existing >= 0) {
        m_prompts.setAssumeYes(parser.isSet(QStringLiteral("yes")));
        if (!m_prompts.confirm(QStringLiteral("Overwrite existing configuration <%1> ?").arg(name)))
            return fail(common, QStringLiteral("%1 was not changed").arg(path));
        database.replaceCode(existing, codeText);
    } else {
        if (database.isFull())
            return fail(common, QStringLiteral("%1 holds %2 entries, as many as a database file can hold")
                                    .arg(path)
                                    .arg(database.count()));
        database.append(name, codeText);
    }
    if (!saveDatabase(database))
        return fail(common, QStringLiteral("%1 was not written").arg(path));
    const int row = existing >= 0 ? existing : database.count() - 1;
    QJsonObject json = entryJson(database, row);
    json.insert(QStringLiteral("ok"), true);
    json.insert(QStringLiteral("replaced"), existing >= 0);
    if (common.json || !common.quiet)
        print(common, json,
              QStringLiteral("%1 entry %2 \"%3\" %4\n")
                  .arg(existing >= 0 ? QStringLiteral("Replaced") : QStringLiteral("Added"))
                  .arg(row + 1)
                  .arg(printableText(name), codeText));
    return Success;
}

int CliApp::dbRemove(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("db remove"), QStringLiteral("Removes one entry from a .cdb database."),
          QStringLiteral("FILE NAME | FILE --index N"));
    parser.addOption({QStringLiteral("index"), QStringLiteral("The entry's position, from 1."), QStringLiteral("n")});
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != (parser.isSet(QStringLiteral("index")) ? 1 : 2))
        return usage(QStringLiteral("needs FILE and either NAME or --index N"));
    MechanismDatabase database;
    if (!loadDatabase(positional.first(), database))
        return fail(common, QStringLiteral("%1 could not be read").arg(positional.first()));
    int exitCode = Success;
    const int row = entryRow(parser, database, common, &exitCode);
    if (row < 0)
        return exitCode;
    const QJsonObject removed = entryJson(database, row);
    database.remove(row);
    if (!saveDatabase(database))
        return fail(common, QStringLiteral("%1 was not written").arg(positional.first()));
    if (common.json || !common.quiet)
        print(common, {{QStringLiteral("ok"), true}, {QStringLiteral("removed"), removed}},
              QStringLiteral("Removed entry %1 \"%2\"\n")
                  .arg(row + 1)
                  .arg(printableText(removed.value(QStringLiteral("name")).toString())));
    return Success;
}

int CliApp::dbMove(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("db move"),
          QStringLiteral("Moves one entry up, down, or to a position (from 1)."),
          QStringLiteral("FILE NAME | FILE --index N"));
    parser.addOption({QStringLiteral("index"), QStringLiteral("The entry's position, from 1."), QStringLiteral("n")});
    parser.addOption({QStringLiteral("up"), QStringLiteral("One place up.")});
    parser.addOption({QStringLiteral("down"), QStringLiteral("One place down.")});
    parser.addOption({QStringLiteral("to"), QStringLiteral("To this position, from 1."), QStringLiteral("n")});
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != (parser.isSet(QStringLiteral("index")) ? 1 : 2))
        return usage(QStringLiteral("needs FILE and either NAME or --index N"));
    const int ways = int(parser.isSet(QStringLiteral("up"))) + int(parser.isSet(QStringLiteral("down")))
                     + int(parser.isSet(QStringLiteral("to")));
    if (ways != 1)
        return usage(QStringLiteral("needs one of --up, --down or --to N"));
    int target = 0;
    if (parser.isSet(QStringLiteral("to"))) {
        bool ok = false;
        target = parser.value(QStringLiteral("to")).toInt(&ok);
        if (!ok || target < 1)
            return usage(QStringLiteral("--to takes a position from 1"));
    }
    MechanismDatabase database;
    if (!loadDatabase(positional.first(), database))
        return fail(common, QStringLiteral("%1 could not be read").arg(positional.first()));
    int exitCode = Success;
    int row = entryRow(parser, database, common, &exitCode);
    if (row < 0)
        return exitCode;
    if (parser.isSet(QStringLiteral("up")))
        target = row; // positions count from 1
    else if (parser.isSet(QStringLiteral("down")))
        target = row + 2;
    if (target < 1 || target > database.count())
        return fail(common, QStringLiteral("entry %1 cannot move to position %2 of %3")
                                .arg(row + 1)
                                .arg(target)
                                .arg(database.count()));
    // Neighbour by neighbour, as the list's move commands do.
    while (row + 1 < target) {
        database.exchange(row, row + 1);
        ++row;
    }
    while (row + 1 > target) {
        database.exchange(row, row - 1);
        --row;
    }
    if (!saveDatabase(database))
        return fail(common, QStringLiteral("%1 was not written").arg(positional.first()));
    QJsonObject json = entryJson(database, row);
    json.insert(QStringLiteral("ok"), true);
    if (common.json || !common.quiet)
        print(common, json,
              QStringLiteral("\"%1\" is now entry %2\n").arg(printableText(database.name(row))).arg(row + 1));
    return Success;
}

int CliApp::dbFactory(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("db factory"),
          QStringLiteral("Writes the factory list of 29 mechanisms as a new .cdb database; an existing "
                         "file is replaced only with --yes."),
          QStringLiteral("FILE"));
    parser.addOption({{QStringLiteral("y"), QStringLiteral("yes")}, QStringLiteral("Replace an existing file.")});
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usage(QStringLiteral("needs one FILE"));
    const QString path = positional.first();
    if (QFileInfo::exists(path) && !parser.isSet(QStringLiteral("yes")))
        return fail(common, QStringLiteral("%1 exists; give --yes to replace it").arg(path));
    MechanismDatabase database;
    FillFactoryList(database);
    if (!saveDatabaseAs(database, path))
        return fail(common, QStringLiteral("%1 was not written").arg(path));
    if (common.json || !common.quiet)
        print(common, {{QStringLiteral("ok"), true}, {QStringLiteral("file"), path},
                       {QStringLiteral("count"), database.count()}},
              QStringLiteral("Wrote the %1 factory mechanisms to %2\n").arg(database.count()).arg(path));
    return Success;
}

int CliApp::dbExport(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("db export"),
          QStringLiteral("Writes a .cdb database as JSON, on standard output or into --output."),
          QStringLiteral("FILE"));
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")}, QStringLiteral("The JSON file to write."),
                      QStringLiteral("file")});
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 1)
        return usage(QStringLiteral("needs one FILE"));
    MechanismDatabase database;
    if (!loadDatabase(positional.first(), database))
        return fail(common, QStringLiteral("%1 could not be read").arg(positional.first()));
    const QByteArray json = databasejson::exportEntries(database.entries());
    if (!parser.isSet(QStringLiteral("output"))) {
        m_out << QString::fromUtf8(json);
        m_out.flush();
        return Success;
    }
    const QString output = parser.value(QStringLiteral("output"));
    if (DatabaseFiles::isReadOnly(output)) {
        m_prompts.warning(QStringLiteral("This file is Read-Only !"));
        return fail(common, QStringLiteral("%1 was not written").arg(output));
    }
    QSaveFile file(output);
    // Flush before commit(): a full disk must fail here, not leave an empty file.
    if (!file.open(QIODevice::WriteOnly) || file.write(json) != json.size() || !file.flush() || !file.commit())
        return fail(common, QStringLiteral("cannot write %1: %2").arg(output, file.errorString()));
    return Success;
}

int CliApp::dbImport(const QStringList &arguments)
{
    QCommandLineParser parser;
    setUp(parser, QStringLiteral("db import"),
          QStringLiteral("Writes a .cdb database from JSON (as db export writes it; - reads standard "
                         "input); an existing file is replaced only with --yes."),
          QStringLiteral("JSON FILE"));
    parser.addOption({{QStringLiteral("y"), QStringLiteral("yes")}, QStringLiteral("Replace an existing file.")});
    Common common;
    if (const auto exit = parse(parser, arguments, common))
        return *exit;
    const QStringList positional = parser.positionalArguments();
    if (positional.size() != 2)
        return usage(QStringLiteral("needs JSON and FILE"));
    const QString source = positional.at(0);
    const QString path = positional.at(1);

    QFile input;
    const bool opened = source == QLatin1String("-") ? input.open(stdin, QIODevice::ReadOnly)
                                                     : (input.setFileName(source), input.open(QIODevice::ReadOnly));
    if (!opened)
        return fail(common, QStringLiteral("cannot read %1: %2").arg(source, input.errorString()));
    const databasejson::ImportResult imported = databasejson::importEntries(input.readAll());
    if (!imported.ok)
        return fail(common, QStringLiteral("%1 was refused: %2").arg(source, imported.reason));
    if (QFileInfo::exists(path) && !parser.isSet(QStringLiteral("yes")))
        return fail(common, QStringLiteral("%1 exists; give --yes to replace it").arg(path));

    MechanismDatabase database;
    database.setEntries(imported.entries);
    if (!saveDatabaseAs(database, path))
        return fail(common, QStringLiteral("%1 was not written").arg(path));
    if (common.json || !common.quiet)
        print(common, {{QStringLiteral("ok"), true}, {QStringLiteral("file"), path},
                       {QStringLiteral("count"), database.count()}},
              QStringLiteral("Wrote %1 entries to %2\n").arg(database.count()).arg(path));
    return Success;
}

} // namespace tessary
