#include "completion.h"

#include "app/commandlinehelp.h"
#include "cliapp.h"
#include "optionvalues.h"

#include <QJsonObject>
#include <QMap>

#include <functional>
#include <QRegularExpression>

namespace tessary {

namespace {

// The table as the completions see it: each command with every option it
// takes and what each value and argument can be.
struct Option {
    QStringList flags; // "-q", "--quiet"
    QString summary;
    bool takesValue = false;
    ValueSet values;
};

struct Command {
    QString name; // "detect", "db show"
    QString summary;
    QList<Option> options;
    QList<ValueSet> arguments;
};

// A description made short for a shell's list: without its details in
// parentheses, its first sentence; for a command (cut at ": " too), its first
// clause: "Finds the board".
QString summaryOf(const QString &description, const QString &cuts = QStringLiteral("; "))
{
    static const QRegularExpression aside(QStringLiteral("\\s*\\([^)]*\\)"));
    QString text = description.section(u'\n', 0, 0).remove(aside);
    static const QRegularExpression end(QStringLiteral("\\.(\\s|$)"));
    if (const auto match = end.match(text); match.hasMatch())
        text.truncate(match.capturedStart());
    for (const QString &cut : cuts.split(u'|'))
        if (const qsizetype at = text.indexOf(cut); at > 0)
            text.truncate(at);
    return text.trimmed();
}

QList<Command> commands()
{
    QList<Command> list;
    for (const CliApp::Subcommand &subcommand : CliApp::subcommands()) {
        Command command{subcommand.name, summaryOf(subcommand.description, QStringLiteral("; |: ")), {},
                        argumentValues(subcommand.syntax)};
        for (const QCommandLineOption &option : CliApp::commonOptions(subcommand.reach) + subcommand.options) {
            QStringList flags;
            for (const QString &name : option.names())
                flags << (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
            command.options.append(
                {flags, summaryOf(option.description()), !option.valueName().isEmpty(), optionValues(option)});
        }
        list.append(command);
    }
    return list;
}

// The first words of the commands, in table order: "detect", "db", ...
QStringList topWords(const QList<Command> &list)
{
    QStringList words;
    for (const Command &command : list)
        if (const QString first = command.name.section(u' ', 0, 0); !words.contains(first))
            words << first;
    return words;
}

// The groups (commands of two words) and their actions.
QMap<QString, QStringList> groups(const QList<Command> &list)
{
    QMap<QString, QStringList> map;
    for (const Command &command : list)
        if (command.name.contains(u' '))
            map[command.name.section(u' ', 0, 0)] << command.name.section(u' ', 1);
    return map;
}

// The first words with what each does: a command's summary, or a group's
// actions ("db commands: list, show, ...").
QList<std::pair<QString, QString>> topEntries(const QList<Command> &list)
{
    const QMap<QString, QStringList> map = groups(list);
    QList<std::pair<QString, QString>> entries;
    for (const QString &word : topWords(list)) {
        QString summary = QStringLiteral("%1 commands: %2").arg(word, map.value(word).join(QStringLiteral(", ")));
        for (const Command &command : list)
            if (command.name == word)
                summary = command.summary;
        entries.append({word, summary});
    }
    return entries;
}

// 'text' for bash and zsh.
QString quoted(const QString &text)
{
    QString inner = text;
    return u'\'' + inner.replace(u'\'', QStringLiteral("'\\''")) + u'\'';
}

// 'text' for fish, whose single quotes take \' and \\.
QString fishQuoted(const QString &text)
{
    QString inner = text;
    inner.replace(u'\\', QStringLiteral("\\\\")).replace(u'\'', QStringLiteral("\\'"));
    return u'\'' + inner + u'\'';
}

// The places a value is completed, grouped by what it can be: "detect --port",
// or "db show #2" for a command's second argument. Keyed by the kind and the
// choices, so equal sets share one case.
QMap<QString, std::pair<ValueSet, QStringList>> valuePlaces(const QList<Command> &list)
{
    QMap<QString, std::pair<ValueSet, QStringList>> places;
    const auto add = [&places](const ValueSet &set, const QString &place) {
        if (set.kind == ValueSet::Free)
            return;
        auto &entry = places[QString::number(set.kind) + u'|' + set.choices.join(u' ')];
        entry.first = set;
        entry.second << place;
    };
    for (const Command &command : list) {
        for (const Option &option : command.options)
            if (option.takesValue)
                add(option.values, command.name + u' ' + option.flags.constLast());
        for (qsizetype i = 0; i < command.arguments.size(); ++i)
            add(command.arguments[i], command.name + QStringLiteral(" #%1").arg(i + 1));
    }
    return places;
}

// The value cases of a script's case statement: the places of each kind of
// value as one pattern, and what the shell does there.
QString valueCases(const QList<Command> &list, const QString &format, const QString &separator,
                   const std::function<QString(const ValueSet &)> &action)
{
    QString text;
    for (const auto &[set, places] : valuePlaces(list)) {
        QStringList patterns;
        for (const QString &place : places)
            patterns << quoted(place);
        text += format.arg(patterns.join(separator), action(set));
    }
    return text;
}

const char *const Heading = "made by `tessary completion %1` from the program's table of commands:\n"
                            "# its commands, each one's options, the values of those with a known set, file names,\n"
                            "# serial ports, and the entries of the .cdb file named earlier on the line.\n";

// ---- bash ------------------------------------------------------------------

QString bashScript()
{
    const QList<Command> list = commands();
    QString options, values, actions;
    for (const Command &command : list) {
        QStringList words;
        for (const Option &option : command.options)
            for (const QString &flag : option.flags)
                words << flag + (option.takesValue ? QStringLiteral("=") : QString());
        options += QStringLiteral("        %1) echo %2 ;;\n").arg(quoted(command.name), quoted(words.join(u' ')));
    }
    const auto map = groups(list);
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        actions += QStringLiteral("        %1) echo %2 ;;\n").arg(quoted(it.key()), quoted(it.value().join(u' ')));
    values = valueCases(list, QStringLiteral("        %1)\n            %2 ;;\n"), QStringLiteral(" | "),
                        [](const ValueSet &set) -> QString {
                            switch (set.kind) {
                            case ValueSet::Choices:
                                return QStringLiteral("COMPREPLY=($(compgen -W %1 -- \"$cur\"))")
                                    .arg(quoted(set.choices.join(u' ')));
                            case ValueSet::Files: return QStringLiteral("_tessary_files \"$cur\"");
                            case ValueSet::Databases: return QStringLiteral("_tessary_files \"$cur\" cdb");
                            case ValueSet::Ports: return QStringLiteral("_tessary_ports \"$cur\"");
                            case ValueSet::Entries: return QStringLiteral("_tessary_names \"$cur\" \"$4\"");
                            case ValueSet::Free: break;
                            }
                            return {};
                        });

    QStringList globs;
    for (const QString &pattern : serialDevicePatterns())
        globs << QStringLiteral("compgen -G %1").arg(quoted(pattern));
    const QString devices = globs.join(QStringLiteral("; "));

    QString script = QStringLiteral("# bash completion for tessary(1), ")
                   + QString::fromLatin1(Heading).arg(QStringLiteral("bash"));
    script += QStringLiteral(R"SH(
# The options of a command; those that take a value end in "=".
_tessary_options()
{
    case $1 in
%1    esac
}

# The actions of a group of commands.
_tessary_actions()
{
    case $1 in
%2    esac
}

# File names; with an extension, the files that have it and the folders.
_tessary_files()
{
    local IFS=$'\n'
    compopt -o filenames 2>/dev/null
    if [[ -n $2 ]]; then
        COMPREPLY=($(compgen -d -- "$1") $(compgen -f -X "!*.$2" -- "$1"))
    else
        COMPREPLY=($(compgen -f -- "$1"))
    fi
}

# COM1 to COM6 and the serial adapters present; any device once a path is
# begun (also the PATH of COMn=PATH, which bash gives as a word of its own).
_tessary_ports()
{
    local IFS=$'\n' candidates
    if [[ $1 == /* ]]; then
        compopt -o filenames 2>/dev/null
        COMPREPLY=($(compgen -f -- "$1"))
    else
        candidates=$(printf '%s\n' %3; %4)
        COMPREPLY=($(compgen -W "$candidates" -- "$1"))
    fi
}

# The entry names of the .cdb file $2, as `tessary db list` shows them
# (number, name, code), each quoted for the line.
_tessary_names()
{
    local program=${COMP_WORDS[0]} line name typed=${1//\\/}
    typed=${typed#[\"\']}
    [[ $program == "~/"* ]] && program=$HOME/${program#"~/"}
    command -v "$program" >/dev/null || program=tessary
    [[ $2 == "~/"* ]] && set -- "$1" "$HOME/${2#"~/"}"
    COMPREPLY=()
    while IFS= read -r line; do
        ((${#line} > 23)) || continue
        name=${line:5:${#line}-23}
        while [[ $name == *' ' ]]; do name=${name% }; done
        [[ $name == "$typed"* ]] && COMPREPLY+=("$(printf '%q' "$name")")
    done < <("$program" db list -- "$2" 2>/dev/null)
}

# Completes what follows option $2 (or argument number $2, "#1") of command $1;
# $4 is the .cdb file named earlier on the line.
_tessary_value()
{
    local cur=$3
    case "$1 $2" in
%5    esac
}

_tessary()
{
    local cur=${COMP_WORDS[COMP_CWORD]} command="" expect="" valued="" db="" first="" word i n=0
    COMPREPLY=()
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        # bash splits --db=FILE and COM3=PATH at "=": the word after it is
        # the option's value, or the rest of the value before it.
        if [[ $word == = ]]; then
            if [[ -z $expect ]]; then
                ((i + 1 == COMP_CWORD)) && expect=$valued || ((i++))
            fi
            continue
        fi
        valued=""
        if [[ -n $expect ]]; then
            [[ $expect == --db ]] && db=$word
            valued=$expect
            expect=""
        elif [[ $word == -* ]]; then
            [[ " $(_tessary_options "$command") " == *" $word= "* ]] && expect=$word
        elif [[ -z $command ]]; then
            command=$word
        elif [[ $command != *" "* && -n $(_tessary_actions "$command") ]]; then
            command="$command $word"
        else
            ((n++))
            ((n == 1)) && first=$word
        fi
    done
    [[ $cur == = ]] && cur=""
    [[ -n $db ]] || db=$first
    if [[ -n $expect ]]; then
        _tessary_value "$command" "$expect" "$cur" "$db"
    elif [[ -z $command ]]; then
        COMPREPLY=($(compgen -W '%6 --help --version' -- "$cur"))
    elif [[ $command != *" "* && -n $(_tessary_actions "$command") ]]; then
        COMPREPLY=($(compgen -W "$(_tessary_actions "$command")" -- "$cur"))
    elif [[ $cur == -* ]]; then
        local options=$(_tessary_options "$command")
        COMPREPLY=($(compgen -W "${options//=/}" -- "$cur"))
    else
        _tessary_value "$command" "#$((n + 1))" "$cur" "$db"
    fi
}

complete -F _tessary tessary
)SH")
                  .arg(options, actions, comNames().join(u' '),
                       devices, values,
                       topWords(list).join(u' '));
    return script;
}


// The options of each command that take a value, for the scripts that walk
// the line: "detect) echo '--port --speed ...' ;;".
QString valuedOptions(const QList<Command> &list, const QString &format)
{
    QString text;
    for (const Command &command : list) {
        QStringList flags;
        for (const Option &option : command.options)
            if (option.takesValue)
                flags << option.flags;
        text += format.arg(command.name, flags.join(u' '));
    }
    return text;
}

// ---- zsh -------------------------------------------------------------------

QString zshScript()
{
    const QList<Command> list = commands();
    const auto map = groups(list);
    QString commandItems, options, actions;
    for (const auto &[word, summary] : topEntries(list))
        commandItems += QStringLiteral("        %1\n").arg(quoted(word + u':' + summary));
    for (const Command &command : list) {
        QStringList items;
        for (const Option &option : command.options)
            for (const QString &flag : option.flags)
                items << quoted(flag + u':' + option.summary);
        options += QStringLiteral("        (%1) items=(\n            %2\n        ) ;;\n")
                       .arg(quoted(command.name), items.join(QStringLiteral("\n            ")));
    }
    for (auto it = map.cbegin(); it != map.cend(); ++it) {
        QStringList items;
        for (const QString &action : it.value())
            for (const Command &command : list)
                if (command.name == it.key() + u' ' + action)
                    items << quoted(action + u':' + command.summary);
        actions += QStringLiteral("        (%1) items=(\n            %2\n        ) ;;\n")
                       .arg(quoted(it.key()), items.join(QStringLiteral("\n            ")));
    }
    const QString values = valueCases(list, QStringLiteral("        (%1)\n            %2 ;;\n"), QStringLiteral("|"),
                                      [](const ValueSet &set) -> QString {
                                          switch (set.kind) {
                                          case ValueSet::Choices: {
                                              QStringList words;
                                              for (const QString &choice : set.choices)
                                                  words << quoted(choice);
                                              return QStringLiteral("compadd -- %1").arg(words.join(u' '));
                                          }
                                          case ValueSet::Files: return QStringLiteral("_files");
                                          case ValueSet::Databases: return QStringLiteral("_files -g '*.cdb'");
                                          case ValueSet::Ports: return QStringLiteral("_tessary_ports");
                                          case ValueSet::Entries: return QStringLiteral("_tessary_names \"$3\"");
                                          case ValueSet::Free: break;
                                          }
                                          return {};
                                      });
    QStringList globs;
    for (const QString &pattern : serialDevicePatterns())
        globs << pattern + QStringLiteral("(N)");

    QString script = QStringLiteral("#compdef tessary\n# zsh completion for tessary(1), ")
                   + QString::fromLatin1(Heading).arg(QStringLiteral("zsh"));
    script += QStringLiteral(R"SH(
# The commands, each "name:what it does", in $items.
_tessary_commands() {
    items=(
%1    )
}

# The options of a command, each "flag:what it does", in $items.
_tessary_options() {
    case $1 in
%2    esac
}

# The actions of a group of commands in $items; false for another command.
_tessary_actions() {
    case $1 in
%3        (*) return 1 ;;
    esac
}

# The options of a command that take a value.
_tessary_valued() {
    case $1 in
%4    esac
}

# COM1 to COM6 and the serial adapters present; any device once a path is
# begun, also after COMn=.
_tessary_ports() {
    [[ $PREFIX == COM[0-9]=* ]] && compset -P '*='
    if [[ $PREFIX == /* || -n $IPREFIX ]]; then
        _files
    else
        compadd -- %5 %6
    fi
}

# The entry names of the .cdb file $1, as `tessary db list` shows them
# (number, name, code).
_tessary_names() {
    local program=${words[1]/#\~/$HOME} line name
    local -a names
    (( $+commands[$program] )) || [[ -x $program ]] || program=tessary
    for line in ${(f)"$($program db list -- ${1/#\~/$HOME} 2>/dev/null)"}; do
        (( ${#line} > 23 )) || continue
        name=${line[6,-19]}
        while [[ $name == *' ' ]]; do name=${name% }; done
        names+=("$name")
    done
    compadd -a names
}

# Completes what follows option $2 (or argument number $2, "#1") of command $1;
# $3 is the .cdb file named earlier on the line.
_tessary_value() {
    case "$1 $2" in
%7    esac
}

_tessary() {
    local command= expect= db= first= word cur=${words[CURRENT]}
    local -a items
    local -i i n=0
    for (( i = 2; i < CURRENT; i++ )); do
        word=${(Q)words[i]}
        if [[ -n $expect ]]; then
            [[ $expect == --db ]] && db=$word
            expect=
        elif [[ $word == --*=* ]]; then
            [[ ${word%%=*} == --db ]] && db=${word#*=}
        elif [[ $word == -* ]]; then
            [[ " $(_tessary_valued $command) " == *" $word "* ]] && expect=$word
        elif [[ -z $command ]]; then
            command=$word
        elif [[ $command != *' '* ]] && _tessary_actions $command; then
            command="$command $word"
        else
            (( n++ ))
            (( n == 1 )) && first=$word
        fi
    done
    [[ -n $db ]] || db=$first
    if [[ -z $expect && $cur == --*=* ]]; then
        expect=${cur%%=*}
        compset -P '*='
    fi
    if [[ -n $expect ]]; then
        _tessary_value $command $expect $db
    elif [[ -z $command ]]; then
        _tessary_commands
        items+=('--help:Shows the commands' '--version:Shows the version and the Qt it runs on')
        _describe -t commands 'tessary command' items
    elif [[ $command != *' '* ]] && _tessary_actions $command; then
        _describe -t commands "tessary $command action" items
    elif [[ $cur == -* ]]; then
        _tessary_options $command
        _describe -t options option items
    else
        _tessary_value $command "#$(( n + 1 ))" $db
    fi
}

if [[ $zsh_eval_context[-1] == loadautofunc ]]; then
    _tessary "$@"
else
    compdef _tessary tessary
fi
)SH")
                  .arg(commandItems, options, actions,
                       valuedOptions(list, QStringLiteral("        ('%1') echo '%2' ;;\n")), comNames().join(u' '),
                       globs.join(u' '), values);
    return script;
}

// ---- fish ------------------------------------------------------------------

QString fishScript()
{
    const QList<Command> list = commands();
    const auto map = groups(list);
    QString completions;
    const auto line = [&completions](const QString &condition, const QString &what, const QString &summary) {
        completions += QStringLiteral("complete -c tessary -n %1 %2").arg(fishQuoted(condition), what)
                     + (summary.isEmpty() ? QString() : QStringLiteral(" -d %1").arg(fishQuoted(summary))) + u'\n';
    };
    const auto valueSwitches = [](const ValueSet &set) -> QString {
        switch (set.kind) {
        case ValueSet::Choices: return QStringLiteral("-x -a %1").arg(fishQuoted(set.choices.join(u' ')));
        case ValueSet::Files: return QStringLiteral("-r -F");
        case ValueSet::Databases: return QStringLiteral("-x -a '(__tessary_databases)'");
        case ValueSet::Ports: return QStringLiteral("-x -a '(__tessary_ports)'");
        case ValueSet::Entries: return QStringLiteral("-x -a '(__tessary_names)'");
        case ValueSet::Free: break;
        }
        return QStringLiteral("-x");
    };
    for (const auto &[word, summary] : topEntries(list))
        line(QStringLiteral("__tessary_is \"\""), QStringLiteral("-a %1").arg(fishQuoted(word)), summary);
    line(QStringLiteral("__tessary_is \"\""), QStringLiteral("-l help"), QStringLiteral("Shows the commands"));
    line(QStringLiteral("__tessary_is \"\""), QStringLiteral("-l version"),
         QStringLiteral("Shows the version and the Qt it runs on"));
    for (const Command &command : list) {
        const QString group = command.name.section(u' ', 0, 0);
        if (command.name.contains(u' '))
            line(QStringLiteral("__tessary_is %1").arg(group),
                 QStringLiteral("-a %1").arg(fishQuoted(command.name.section(u' ', 1))), command.summary);
        const QString is = QStringLiteral("__tessary_is \"%1\"").arg(command.name);
        for (const Option &option : command.options) {
            QString flags;
            for (const QString &flag : option.flags)
                flags += (flag.startsWith(QLatin1String("--")) ? QStringLiteral("-l %1 ").arg(flag.mid(2))
                                                                : QStringLiteral("-s %1 ").arg(flag.mid(1)));
            line(is, flags + (option.takesValue ? valueSwitches(option.values) : QStringLiteral("-f")).trimmed(),
                 option.summary);
        }
        for (qsizetype i = 0; i < command.arguments.size(); ++i)
            if (command.arguments[i].kind != ValueSet::Free)
                line(QStringLiteral("__tessary_is \"%1\" %2").arg(command.name).arg(i + 1),
                     valueSwitches(command.arguments[i]), {});
    }
    QStringList groupNames = map.keys();

    QString script = QStringLiteral("# fish completion for tessary(1), ")
                   + QString::fromLatin1(Heading).arg(QStringLiteral("fish"));
    script += QStringLiteral(R"SH(
# The options of a command that take a value.
function __tessary_valued --argument-names command
    switch $command
%1    end
end

# Reads the line so far: the command (detect, db show), the .cdb file it
# names (--db, else its first argument) and how many arguments it has.
function __tessary_line
    set -l words (commandline -opc)
    set -g __tessary_program $words[1]
    set -e words[1]
    set -g __tessary_command ''
    set -g __tessary_db ''
    set -g __tessary_count 0
    set -l first ''
    set -l expect ''
    for word in $words
        if test -n "$expect"
            test "$expect" = --db; and set __tessary_db $word
            set expect ''
        else if string match -q -- '--*=*' $word
            string match -q -- '--db=*' $word; and set __tessary_db (string replace -- '--db=' '' $word)
        else if string match -q -- '-*' $word
            contains -- $word (__tessary_valued $__tessary_command); and set expect $word
        else if test -z "$__tessary_command"
            set __tessary_command $word
        else if contains -- $__tessary_command %2
            set __tessary_command "$__tessary_command $word"
        else
            set __tessary_count (math $__tessary_count + 1)
            test $__tessary_count = 1; and set first $word
        end
    end
    test -n "$__tessary_db"; or set __tessary_db $first
end

# Whether the line's command is $argv[1]; with a number, whether that
# argument comes next.
function __tessary_is
    __tessary_line
    test "$__tessary_command" = "$argv[1]"; or return 1
    test (count $argv) -lt 2; or test (math $__tessary_count + 1) = $argv[2]
end

# COM1 to COM6 and the serial adapters present; any device once a path is
# begun, also after COMn=.
function __tessary_ports
    set -l typed (commandline -ct)
    if string match -qr -- '^COM[0-9]=' $typed
        set -l slot (string sub -l 5 -- $typed)
        __fish_complete_path (string sub -s 6 -- $typed) | string replace -r -- '^' $slot
        return
    end
    printf '%s\n' %3
    set -l devices %4
    printf '%s\n' $devices
    string match -q -- '/*' $typed; and __fish_complete_path $typed
end

# The .cdb files and the folders on the way to one.
function __tessary_databases
    __fish_complete_path (commandline -ct) | string match -re -- '(?:/|\.cdb)(?:\t|$)'
end

# The entry names of the .cdb file named on the line, as `tessary db list`
# shows them (number, name, code).
function __tessary_names
    __tessary_line
    set -l program (string replace -r -- '^~/' ~/ $__tessary_program)
    command -q $program; or set program tessary
    set -l file (string replace -r -- '^~/' ~/ $__tessary_db)
    $program db list -- $file 2>/dev/null | string sub -s 6 -e -18 | string trim -r
end

complete -c tessary -f
%5)SH")
                  .arg(valuedOptions(list, QStringLiteral("        case '%1'\n            echo '%2' | string split ' '\n")),
                       groupNames.join(u' '), comNames().join(u' '), serialDevicePatterns().join(u' '), completions);
    return script;
}

} // namespace

QStringList completionShells() { return {QStringLiteral("bash"), QStringLiteral("zsh"), QStringLiteral("fish")}; }

int CliApp::completion(const Invocation &call)
{
    const QString shell = call.arguments.constFirst();
    if (!completionShells().contains(shell)) {
        const QString near = nearestWord(shell, completionShells());
        return usage(QStringLiteral("completes bash, zsh or fish, not \"%1\"%2")
                         .arg(shell, near.isEmpty() ? QString() : QStringLiteral("; did you mean %1?").arg(near)));
    }
    const QString script = completionScript(shell);
    print(call.common,
          {{QStringLiteral("ok"), true}, {QStringLiteral("shell"), shell}, {QStringLiteral("script"), script}},
          script);
    return Success;
}

QString completionScript(const QString &shell)
{
    if (shell == QLatin1String("bash"))
        return bashScript();
    if (shell == QLatin1String("zsh"))
        return zshScript();
    if (shell == QLatin1String("fish"))
        return fishScript();
    return {};
}

} // namespace tessary
