#pragma once
// The program's command line: what it asks for, read with
// QCommandLineParser. --help lists the options, --version gives the
// version; an unknown option or an argument is an error.

#include <QString>
#include <QStringList>
#include <optional>
#include <string>

namespace tavro::ui {

// The options of one run.
struct ProgramOptions {
    bool nightVision = false;   // --night: night vision for this run, not saved
    // --planetarium ADDRESS:PORT|off: where the planetarium link listens this
    // run, in place of the settings file's [Planetarium] Listen.
    std::optional<std::string> planetariumListen;
};

// What the command line asks the program to do: run with `options`, or,
// when `exitStatus` is set, print `text` and end at once with that status
// (0 after --help or --version, the text for standard output; 2 after an
// error, the text for standard error).
struct CommandLine {
    ProgramOptions options;
    std::optional<int> exitStatus;
    QString text;
};

// Reads the arguments (the program's name first), as the application object
// gives them after taking the toolkit's own options.
CommandLine ParseCommandLine(const QStringList& arguments);

}  // namespace tavro::ui
