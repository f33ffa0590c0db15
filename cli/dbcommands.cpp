// The database commands on .cdb files: the window's file format, file checks
// and atomic saves (DatabaseFiles), with JSON export and import.
#include "cliapp.h"

#include "app/atomicsave.h"
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
#include <QTextStream>

namespace tessary {

namespace {

QJsonObject entryJson(const MechanismDatabase &database, int row)
{
    return {{QStringLiteral("index"), row + 1},
            {QStringLiteral("name"), database.name(row)},
            {QStringLiteral("code"), database.code(row)}};
}

} // namespace

std::optional<int> CliApp::readDatabase(const Common &common, const QString &path, MechanismDatabase &database)
{
    const DatabaseFiles::Loaded loaded = DatabaseFiles::load(path);
    if (loaded.problem != DatabaseFiles::Loaded::Problem::None)
        return fail(common, loaded.error);
    database.setEntries(loaded.entries);
    database.setModified(false);
    database.setFileName(path);
    return std::nullopt;
}

std::optional<int> CliApp::writeDatabase(const Common &common, MechanismDatabase &database, const QString &newPath)
{
    const QString path = newPath.isEmpty() ? database.fileName() : newPath;
    const DatabaseFiles::Saved saved = DatabaseFiles::save(path, database.entries());
    if (saved.problem == DatabaseFiles::Saved::Problem::None) {
        database.setModified(false);
        database.setFileName(path);
        return std::nullopt;
    }
    return fail(common, saved.problem == DatabaseFiles::Saved::Problem::ReadOnly
                            ? QStringLiteral("%1 was not written: it is read-only").arg(path)
                            : saved.error + QStringLiteral("; the file on disk was not changed"));
}

std::optional<int> CliApp::lockDatabase(const Common &common, const QString &path)
{
    // Every name of one file takes one lock, beside the file a link leads to.
    m_databaseLock = std::make_unique<QLockFile>(followLink(path) + QStringLiteral(".lock"));
    // A folder that takes no lock file takes no new database either: its write says why.
    if (m_databaseLock->tryLock(10000) || m_databaseLock->error() != QLockFile::LockFailedError)
        return std::nullopt;
    return fail(common, QStringLiteral("%1 is being changed by another program; nothing was changed").arg(path));
}

std::optional<int> CliApp::readEntry(const Invocation &call, MechanismDatabase &database, int *row)
{
    if (const auto exit = readDatabase(call.common, call.arguments.first(), database))
        return exit;
    if (call.has("index")) {
        bool ok = false;
        const int index = call.value("index").toInt(&ok);
        if (!ok)
            return usage(QStringLiteral("--index takes a number from 1"));
        if (index < 1 || index > database.count())
            return fail(call.common, QStringLiteral("%1 has no entry %2 (it holds %3)")
                                         .arg(database.fileName())
                                         .arg(index)
                                         .arg(database.count()));
        *row = index - 1;
        return std::nullopt;
    }
    const QString name = call.arguments.value(1);
    *row = database.find(name);
    if (*row < 0)
        return fail(call.common, QStringLiteral("%1 has no entry named \"%2\"").arg(database.fileName(), name));
    return std::nullopt;
}

int CliApp::dbList(const Invocation &call)
{
    const QString &path = call.arguments.first();
    MechanismDatabase database;
    if (const auto exit = readDatabase(call.common, path, database))
        return *exit;

    QJsonArray entries;
    QString text;
    for (int row = 0; row < database.count(); ++row) {
        entries.append(entryJson(database, row));
        text += QStringLiteral("%1  %2  %3\n")
                    .arg(row + 1, 3)
                    .arg(printableText(database.name(row)), -16)
                    .arg(printableText(database.code(row)));
    }
    print(call.common,
          {{QStringLiteral("ok"), true},
           {QStringLiteral("file"), path},
           {QStringLiteral("count"), database.count()},
           {QStringLiteral("entries"), entries}},
          text);
    return Success;
}

int CliApp::dbShow(const Invocation &call)
{
    MechanismDatabase database;
    int row = -1;
    if (const auto exit = readEntry(call, database, &row))
        return *exit;

    const QString codeText = database.code(row);
    QJsonObject json = codeJson(codeText);
    json.insert(QStringLiteral("ok"), true);
    json.insert(QStringLiteral("index"), row + 1);
    json.insert(QStringLiteral("name"), database.name(row));
    QString text = QStringLiteral("Name: %1\nCode: %2\n").arg(printableText(database.name(row)), printableText(codeText));
    text += describeText(decodeConfigurationCode(codeText), QStringLiteral("  "));
    print(call.common, json, text);
    return Success;
}

int CliApp::dbAdd(const Invocation &call)
{
    const Common &common = call.common;
    const QString path = call.arguments.at(0);
    QString name = call.arguments.at(1);
    // Blanks alone would be stored as an empty name: trailing blanks are the field's filling.
    if (name.trimmed().isEmpty())
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

    const bool fromCode = call.has("code");
    if (fromCode == fieldoptions::anySet(call.parser))
        return usage(QStringLiteral("give the configuration with --code or with field options"));
    QString codeText;
    if (fromCode) {
        codeText = call.value("code").trimmed();
        if (!isConfigurationCode(codeText))
            return usage(QStringLiteral("--code: a configuration code is 16 characters 0 or 1, not \"%1\"")
                             .arg(codeText));
    } else {
        ConfigurationEditor editor;
        if (const auto error = fieldoptions::apply(call.parser, editor))
            return usage(*error);
        if (!editor.checkSettingsComplete(m_prompts))
            return UsageError;
        codeText = editor.buildConfigurationCode();
    }

    MechanismDatabase database;
    if (const auto exit = lockDatabase(common, path))
        return *exit;
    if (QFileInfo::exists(path)) {
        if (const auto exit = readDatabase(common, path, database))
            return *exit;
    } else {
        database.setFileName(path);
    }
    const int existing = database.find(name);
    if (existing >= 0) {
        m_prompts.setAssumeYes(call.has("yes"));
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
    if (const auto exit = writeDatabase(common, database))
        return *exit;
    const int row = existing >= 0 ? existing : database.count() - 1;
    QJsonObject json = entryJson(database, row);
    json.insert(QStringLiteral("ok"), true);
    json.insert(QStringLiteral("replaced"), existing >= 0);
    printDone(common, json,
              QStringLiteral("%1 entry %2 \"%3\" %4\n")
                  .arg(existing >= 0 ? QStringLiteral("Replaced") : QStringLiteral("Added"))
                  .arg(row + 1)
                  .arg(printableText(name), codeText));
    return Success;
}

int CliApp::dbRemove(const Invocation &call)
{
    MechanismDatabase database;
    int row = -1;
    if (const auto exit = lockDatabase(call.common, call.arguments.first()))
        return *exit;
    if (const auto exit = readEntry(call, database, &row))
        return *exit;
    const QJsonObject removed = entryJson(database, row);
    database.remove(row);
    if (const auto exit = writeDatabase(call.common, database))
        return *exit;
    printDone(call.common, {{QStringLiteral("ok"), true}, {QStringLiteral("removed"), removed}},
              QStringLiteral("Removed entry %1 \"%2\"\n")
                  .arg(row + 1)
                  .arg(printableText(removed.value(QStringLiteral("name")).toString())));
    return Success;
}

int CliApp::dbMove(const Invocation &call)
{
    const int ways = int(call.has("up")) + int(call.has("down")) + int(call.has("to"));
    if (ways != 1)
        return usage(QStringLiteral("needs one of --up, --down or --to N"));
    int target = 0;
    if (call.has("to")) {
        bool ok = false;
        target = call.value("to").toInt(&ok);
        if (!ok || target < 1)
            return usage(QStringLiteral("--to takes a position from 1"));
    }
    MechanismDatabase database;
    int row = -1;
    if (const auto exit = lockDatabase(call.common, call.arguments.first()))
        return *exit;
    if (const auto exit = readEntry(call, database, &row))
        return *exit;
    if (call.has("up"))
        target = row; // positions count from 1
    else if (call.has("down"))
        target = row + 2;
    if (target < 1 || target > database.count())
        return fail(call.common, QStringLiteral("entry %1 cannot move to position %2 of %3")
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
    if (const auto exit = writeDatabase(call.common, database))
        return *exit;
    QJsonObject json = entryJson(database, row);
    json.insert(QStringLiteral("ok"), true);
    printDone(call.common, json,
              QStringLiteral("\"%1\" is now entry %2\n").arg(printableText(database.name(row))).arg(row + 1));
    return Success;
}

int CliApp::dbFactory(const Invocation &call)
{
    const Common &common = call.common;
    const QString path = call.arguments.first();
    if (QFileInfo::exists(path) && !call.has("yes"))
        return fail(common, QStringLiteral("%1 exists; give --yes to replace it").arg(path));
    MechanismDatabase database;
    FillFactoryList(database);
    if (const auto exit = writeDatabase(common, database, path))
        return *exit;
    printDone(common, {{QStringLiteral("ok"), true}, {QStringLiteral("file"), path},
                       {QStringLiteral("count"), database.count()}},
              QStringLiteral("Wrote the %1 factory mechanisms to %2\n").arg(database.count()).arg(path));
    return Success;
}

int CliApp::dbExport(const Invocation &call)
{
    const Common &common = call.common;
    MechanismDatabase database;
    if (const auto exit = readDatabase(common, call.arguments.first(), database))
        return *exit;
    const QByteArray json = databasejson::exportEntries(database.entries());
    if (!call.has("output")) {
        m_out << QString::fromUtf8(json);
        m_out.flush();
        return Success;
    }
    const QString output = call.value("output");
    if (DatabaseFiles::isReadOnly(output))
        return fail(common, QStringLiteral("%1 was not written: it is read-only").arg(output));
    if (const QString reason = notARegularFile(output); !reason.isEmpty())
        return fail(common, QStringLiteral("cannot write %1: %2").arg(output, reason));
    const QFileInfo target(output);
    if (target.exists() && sameFile(output, call.arguments.first()))
        return fail(common, QStringLiteral("%1 is the database itself; give another file").arg(output));
    if (target.exists() && !call.has("yes"))
        return fail(common, QStringLiteral("%1 exists; give --yes to replace it").arg(output));
    if (const QString reason = saveAtomically(output, json); !reason.isEmpty())
        return fail(common, QStringLiteral("cannot write %1: %2").arg(output, reason));
    return Success;
}

int CliApp::dbImport(const Invocation &call)
{
    const Common &common = call.common;
    const QString source = call.arguments.at(0);
    const QString path = call.arguments.at(1);

    // A pipe or a device would hold the run in its open until something writes (signals unheard).
    if (const QString reason = source == QLatin1String("-") ? QString() : notARegularFile(source); !reason.isEmpty())
        return fail(common, QStringLiteral("cannot read %1: %2; give - to read standard input").arg(source, reason));
    QFile input;
    const bool opened = source == QLatin1String("-") ? input.open(stdin, QIODevice::ReadOnly)
                                                     : (input.setFileName(source), input.open(QIODevice::ReadOnly));
    if (!opened)
        return fail(common, QStringLiteral("cannot read %1: %2").arg(source, input.errorString()));
    const databasejson::ImportResult imported = databasejson::importEntries(input.readAll());
    if (!imported.ok)
        return fail(common, QStringLiteral("%1 was refused: %2").arg(source, imported.reason));
    if (QFileInfo::exists(path) && !call.has("yes"))
        return fail(common, QStringLiteral("%1 exists; give --yes to replace it").arg(path));

    MechanismDatabase database;
    database.setEntries(imported.entries);
    if (const auto exit = writeDatabase(common, database, path))
        return *exit;
    printDone(common, {{QStringLiteral("ok"), true}, {QStringLiteral("file"), path},
                       {QStringLiteral("count"), database.count()}},
              QStringLiteral("Wrote %1 entries to %2\n").arg(database.count()).arg(path));
    return Success;
}

} // namespace tessary
