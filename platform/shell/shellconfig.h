#pragma once
// What the shell knows before it opens anything: the session context
// (branch, operator, application server), the host database, where the
// modules are and which one to open. Read from an INI file, then overridden
// by command-line options (README.md, "Shell options").

#include <QString>
#include <QStringList>

namespace shell {

struct ShellConfig {
    QString filial = QStringLiteral("0001");
    QString nomeFilial;
    bool moduFili = false;
    QString operador; ///< suggested in the login dialog; empty: none
    QString serverHost = QStringLiteral("127.0.0.1");
    int serverPort = 8211;
    QString serverCa; ///< PEM authority for an "https://" server, empty: the system's
    QString dbDriver = QStringLiteral("QSQLITE");
    QString dbName; ///< file name or database name / connection string
    QString dbHost;
    int dbPort = 0;
    QString dbUser;
    QString dbPassword;      ///< only from the INI file, which must then be readable by its owner alone
    QString credentialsFile; ///< operator and password for the login, read instead of asking (owner-only file)
    QString moduleDir;       ///< empty: the folder of the executable
    QString module;          ///< code to open at start, empty: none
    QString optionsFile;     ///< filter options file, empty: user settings
    QString screenshot;      ///< PNG to write, then exit
    int screenshotTimeoutMs = 20000;
    int screenshotPage = 0; ///< page of the screen shown before the picture (1-based), 0: as it opens
    QString styleName = QStringLiteral("Fusion");

    /// Reads the INI file; a missing file is an error, unknown keys are ignored.
    void readIni(const QString& path);
    /// Applies command-line options (argv without the program name). Returns
    /// an error text for a bad option, empty when all were understood.
    QString applyArguments(const QStringList& args);
    /// Fills core::context() from this configuration.
    void applyToContext() const;
};

/// The text printed by --help.
QString usage();

} // namespace shell
