// SPDX-License-Identifier: MIT
// The program as a desktop installs it: the entry and metainfo the desktop
// and software centres read, the manual pages and completions that must keep
// up with --help, the install tree, and the Debian package made from it.
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

namespace {

const QString sourceDir = QStringLiteral(VEXALO_SOURCE_DIR);
const QString appId = QStringLiteral(VEXALO_APP_ID);

struct Ran {
    int status = -1;
    QString out;
    QString err;
};

Ran run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env = {},
        const QString &folder = {})
{
    QProcess process;
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    if (!folder.isEmpty())
        process.setWorkingDirectory(folder);
    process.start(program, arguments);
    Ran ran;
    if (!process.waitForStarted(30000)) {
        ran.err = process.errorString();
        return ran;
    }
    process.closeWriteChannel();
    process.waitForFinished(300000);
    ran.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    ran.out = QString::fromUtf8(process.readAllStandardOutput());
    ran.err = QString::fromUtf8(process.readAllStandardError());
    return ran;
}

QString readText(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll());
}

// Every file and link below root, as paths relative to it, sorted.
QStringList treeOf(const QString &root)
{
    QStringList paths;
    QDirIterator it(root, QDir::Files | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        paths << QDir(root).relativeFilePath(it.next());
    paths.sort();
    return paths;
}

// Installs the build tree under destDir as a package would: prefix /usr.
bool installInto(const QString &destDir, QString *why)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DESTDIR"), destDir);
    const Ran ran = run(QStringLiteral(VEXALO_CMAKE),
                        {QStringLiteral("--install"), QStringLiteral(VEXALO_BUILD_DIR), QStringLiteral("--prefix"),
                         QStringLiteral("/usr")},
                        env);
    *why = ran.out + ran.err;
    return ran.status == 0;
}

// The options a --help text offers: the words that begin with a dash at the
// start of its indented lines ("  -f, --find TEXT", "      --paths").
QSet<QString> optionsOfHelp(const QString &help)
{
    QSet<QString> found;
    static const QRegularExpression line(QStringLiteral("^\\s+(-[-\\w]+(?:,\\s*-[-\\w]+)*)"),
                                         QRegularExpression::MultilineOption);
    static const QRegularExpression option(QStringLiteral("-{1,2}[A-Za-z?][-\\w]*"));
    for (auto m = line.globalMatch(help); m.hasNext();) {
        for (auto o = option.globalMatch(m.next().captured(1)); o.hasNext();)
            found.insert(o.next().captured());
    }
    return found;
}

// A manual page's text with roff's escaped dashes made plain.
QString manText(const QString &page)
{
    return readText(sourceDir + QStringLiteral("/data/man/") + page)
        .replace(QStringLiteral("\\-"), QStringLiteral("-"));
}

bool hasWord(const QString &text, const QString &word)
{
    return text.contains(QRegularExpression(QStringLiteral("(?<![-\\w])") + QRegularExpression::escape(word)
                                            + QStringLiteral("(?![-\\w])")));
}

} // namespace

class tst_installed : public QObject {
    Q_OBJECT

private slots:
    void desktopEntry();
    void metainfo();
    void manPagesAgreeWithHelp_data();
    void manPagesAgreeWithHelp();
    void completions_data();
    void completions();
    void installTree();
    void package();
    void makeInstallThenUninstall();
};

void tst_installed::desktopEntry()
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    if (tool.isEmpty())
        QSKIP("desktop-file-validate is not installed (package desktop-file-utils)");
    const QString entry = sourceDir + QStringLiteral("/data/") + appId + QStringLiteral(".desktop");
    const Ran ran = run(tool, {entry});
    qInfo().noquote() << "desktop-file-validate:" << (ran.out + ran.err).trimmed();
    QCOMPARE(ran.status, 0);
    // The validator also warns (with status 0) about what a menu would
    // misfile; a quiet validator is the bar.
    QCOMPARE((ran.out + ran.err).trimmed(), QString());

    // The menu starts the installed program and shows the installed icon.
    const QString text = readText(entry);
    QVERIFY(text.contains(QStringLiteral("\nExec=vexalo4\n")));
    QVERIFY(text.contains(QStringLiteral("\nIcon=") + appId + QLatin1Char('\n')));
}

void tst_installed::metainfo()
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("appstreamcli"));
    if (tool.isEmpty())
        QSKIP("appstreamcli is not installed (package appstream)");
    const QString file = sourceDir + QStringLiteral("/data/") + appId + QStringLiteral(".metainfo.xml");
    const Ran ran = run(tool, {QStringLiteral("validate"), QStringLiteral("--no-net"), file});
    qInfo().noquote() << "appstreamcli validate --no-net:" << (ran.out + ran.err).trimmed();
    QCOMPARE(ran.status, 0);
    // Infos (the example id is not a real domain) are fine; warnings and
    // errors are not.
    QVERIFY2(!QRegularExpression(QStringLiteral("^[WE]: "), QRegularExpression::MultilineOption)
                  .match(ran.out + ran.err)
                  .hasMatch(),
             qPrintable(ran.out));

    // A software centre pairs the metainfo with the entry and the icon by
    // name, and shows the version the program says it is.
    const QString text = readText(file);
    QVERIFY(text.contains(QStringLiteral("<id>") + appId + QStringLiteral("</id>")));
    QVERIFY(text.contains(QStringLiteral("<launchable type=\"desktop-id\">") + appId + QStringLiteral(".desktop<")));
    const Ran version = run(QStringLiteral(VEXALO_CLI_PATH), {QStringLiteral("--version")});
    const QString number = version.out.section(QLatin1Char(' '), -1).trimmed();
    QVERIFY(!number.isEmpty());
    QVERIFY2(text.contains(QStringLiteral("<release version=\"") + number + QLatin1Char('"')),
             qPrintable(QStringLiteral("no release %1 in the metainfo").arg(number)));
}

void tst_installed::manPagesAgreeWithHelp_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("page");
    QTest::newRow("vexalo4-cli") << QStringLiteral(VEXALO_CLI_PATH) << QStringLiteral("vexalo4-cli.1");
    QTest::newRow("vexalo4") << QStringLiteral(VEXALO_GUI_PATH) << QStringLiteral("vexalo4.1");
}

void tst_installed::manPagesAgreeWithHelp()
{
    QFETCH(QString, program);
    QFETCH(QString, page);

    const Ran help = run(program, {QStringLiteral("--help")});
    QCOMPARE(help.status, 0);
    const QSet<QString> helpOptions = optionsOfHelp(help.out);
    QVERIFY2(helpOptions.contains(QStringLiteral("--help")), qPrintable(help.out));

    const QString text = manText(page);
    QVERIFY(!text.isEmpty());
    for (const QString &option : helpOptions)
        QVERIFY2(hasWord(text, option), qPrintable(QStringLiteral("%1 is not in %2").arg(option, page)));

    // And the other way: the page documents no option the program lacks.
    const QString section = text.section(QStringLiteral(".SH OPTIONS"), 1).section(QStringLiteral(".SH "), 0, 0);
    static const QRegularExpression longOption(QStringLiteral("(?<![-\\w])--[a-z][-a-z]*"));
    int documented = 0;
    for (auto m = longOption.globalMatch(section); m.hasNext(); ++documented) {
        const QString option = m.next().captured();
        QVERIFY2(helpOptions.contains(option) || hasWord(help.out, option),
                 qPrintable(QStringLiteral("%1 documents %2, which --help does not know").arg(page, option)));
    }
    QVERIFY(documented > 0);

    // The page renders without a complaint from the formatter.
    const QString groff = QStandardPaths::findExecutable(QStringLiteral("groff"));
    if (groff.isEmpty()) {
        qInfo("groff is not installed; the page's syntax is not checked");
        return;
    }
    const Ran rendered = run(groff,
                             {QStringLiteral("-man"), QStringLiteral("-ww"), QStringLiteral("-z"),
                              sourceDir + QStringLiteral("/data/man/") + page});
    QCOMPARE(rendered.status, 0);
    QCOMPARE(rendered.err, QString());
}

void tst_installed::completions_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("shell");
    QTest::addColumn<QString>("longForm"); // how the completion spells a long option
    QTest::newRow("bash") << QStringLiteral("vexalo4-cli.bash") << QStringLiteral("bash") << QStringLiteral("--%1");
    QTest::newRow("zsh") << QStringLiteral("_vexalo4-cli") << QStringLiteral("zsh") << QStringLiteral("--%1");
    QTest::newRow("fish") << QStringLiteral("vexalo4-cli.fish") << QStringLiteral("fish") << QStringLiteral("-l %1");
}

void tst_installed::completions()
{
    QFETCH(QString, file);
    QFETCH(QString, shell);
    QFETCH(QString, longForm);

    const QString path = sourceDir + QStringLiteral("/data/completions/") + file;
    const QString text = readText(path);
    QVERIFY(!text.isEmpty());

    // A new option in --help without a completion fails here.
    const Ran help = run(QStringLiteral(VEXALO_CLI_PATH), {QStringLiteral("--help")});
    QCOMPARE(help.status, 0);
    const QSet<QString> options = optionsOfHelp(help.out);
    QVERIFY(options.size() > 10);
    for (const QString &option : options) {
        if (!option.startsWith(QStringLiteral("--")))
            continue;
        QVERIFY2(hasWord(text, longForm.arg(option.mid(2))),
                 qPrintable(QStringLiteral("%1 does not complete %2").arg(file, option)));
    }
    for (const QString &command : {QStringLiteral("replace"), QStringLiteral("restore")})
        QVERIFY2(text.contains(command), qPrintable(command));

    const QString interpreter = QStandardPaths::findExecutable(shell);
    if (interpreter.isEmpty()) {
        qInfo().noquote() << shell << "is not installed; the file's syntax is not checked";
        return;
    }
    const Ran parsed = run(interpreter, {QStringLiteral("-n"), path});
    QVERIFY2(parsed.status == 0 && parsed.err.isEmpty(), qPrintable(parsed.err));

    if (shell == QLatin1String("bash")) {
        // Ask the completion itself, as bash would after "vexalo4-cli replace --ca".
        const Ran asked = run(interpreter,
                              {QStringLiteral("-c"),
                               QStringLiteral("source '%1'; COMP_WORDS=(vexalo4-cli replace --ca); COMP_CWORD=2; "
                                              "_vexalo4_cli; printf '%s\\n' \"${COMPREPLY[@]}\"; "
                                              "COMP_WORDS=(vexalo4-cli restore --ba); COMP_CWORD=2; "
                                              "_vexalo4_cli; printf 'restore:%s\\n' \"${COMPREPLY[@]}\"")
                                   .arg(path)});
        QCOMPARE(asked.status, 0);
        QCOMPARE(asked.out, QStringLiteral("--case-sensitive\nrestore:\n"));
    }
}

void tst_installed::installTree()
{
    QTemporaryDir dest;
    QVERIFY(dest.isValid());
    QString why;
    QVERIFY2(installInto(dest.path(), &why), qPrintable(why));
    const QStringList tree = treeOf(dest.path());
    qInfo().noquote() << "installed:\n" + tree.join(QLatin1Char('\n'));

    // Where each reader of these files looks for them.
    QStringList expected = {
        QStringLiteral("usr/bin/vexalo4"),
        QStringLiteral("usr/bin/vexalo4-cli"),
        QStringLiteral("usr/libexec/vexalo4/vexalo4-journal-sweep"),
        QStringLiteral("usr/share/applications/") + appId + QStringLiteral(".desktop"),
        QStringLiteral("usr/share/metainfo/") + appId + QStringLiteral(".metainfo.xml"),
        QStringLiteral("usr/share/icons/hicolor/scalable/apps/") + appId + QStringLiteral(".svg"),
        QStringLiteral("usr/share/man/man1/vexalo4.1.gz"),
        QStringLiteral("usr/share/man/man1/vexalo4-cli.1.gz"),
        QStringLiteral("usr/share/bash-completion/completions/vexalo4-cli"),
        QStringLiteral("usr/share/zsh/vendor-completions/_vexalo4-cli"),
        QStringLiteral("usr/share/fish/vendor_completions.d/vexalo4-cli.fish"),
        QStringLiteral("usr/share/doc/vexalo4/copyright"),
        QStringLiteral("usr/share/doc/vexalo4/changelog.gz"),
        QStringLiteral("usr/share/doc/vexalo4/README.md"),
        QStringLiteral("usr/share/vexalo4/translations/vexalo_de.qm"),
    };
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        expected << QStringLiteral("usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId);
    // Every picture the installed README shows is installed beside it.
    static const QRegularExpression picture(QStringLiteral("\\]\\((docs/[^)\\s]+\\.png)\\)"));
    const QString readme = readText(dest.path() + QStringLiteral("/usr/share/doc/vexalo4/README.md"));
    for (auto m = picture.globalMatch(readme); m.hasNext();)
        expected << QStringLiteral("usr/share/doc/vexalo4/") + m.next().captured(1);
    QVERIFY(expected.last().endsWith(QStringLiteral(".png")));
    for (const QString &path : expected)
        QVERIFY2(tree.contains(path), qPrintable(path + QStringLiteral(" is not installed")));
    // Nothing from the build tree's tests or objects leaks into the install.
    for (const QString &path : tree)
        QVERIFY2(!path.contains(QStringLiteral("tst_")) && !path.endsWith(QStringLiteral(".a")), qPrintable(path));

    // An installed PNG is the size its folder claims, or the desktop scales it.
    for (const int size : {16, 256}) {
        QFile png(dest.path() + QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId));
        QVERIFY(png.open(QIODevice::ReadOnly));
        const QByteArray head = png.read(24);
        QCOMPARE(head.mid(1, 3), QByteArray("PNG"));
        QCOMPARE(qFromBigEndian<quint32>(head.constData() + 16), quint32(size));
        QCOMPARE(qFromBigEndian<quint32>(head.constData() + 20), quint32(size));
    }

    // The installed programs work from their installed place.
    const QString bin = dest.path() + QStringLiteral("/usr/bin/");

    // An empty or relative entry in a program's library search path makes
    // the loader look in the folder the program is started in: whoever may
    // write there (a shared folder a batch is run in) picks the code it runs.
    // Checked for the installed programs and for those make run starts.
    const QString readelf = QStandardPaths::findExecutable(QStringLiteral("readelf"));
    if (readelf.isEmpty())
        qWarning("readelf is not installed (package binutils): library search paths not checked");
    const QString built = QCoreApplication::applicationDirPath() + QLatin1Char('/');
    for (const QString &program : {bin + QStringLiteral("vexalo4"), bin + QStringLiteral("vexalo4-cli"),
                                   built + QStringLiteral("vexalo4"), built + QStringLiteral("vexalo4-cli")}) {
        if (readelf.isEmpty() || !QFileInfo::exists(program))
            continue;
        const Ran dynamic = run(readelf, {QStringLiteral("-d"), program});
        QCOMPARE(dynamic.status, 0);
        static const QRegularExpression searchPath(QStringLiteral("\\((?:RPATH|RUNPATH)\\).*\\[(.*)\\]"));
        for (auto it = searchPath.globalMatch(dynamic.out); it.hasNext();) {
            const QString path = it.next().captured(1);
            for (const QString &entry : path.split(QLatin1Char(':')))
                QVERIFY2(entry.startsWith(QLatin1Char('/')) || entry.startsWith(QStringLiteral("$ORIGIN")),
                         qPrintable(program + QStringLiteral(": library search path [") + path + QLatin1Char(']')));
        }
    }
    const Ran version = run(bin + QStringLiteral("vexalo4"), {QStringLiteral("--version")});
    QCOMPARE(version.status, 0);
    QVERIFY2(version.out.startsWith(QStringLiteral("vexalo4 ")), qPrintable(version.out));
    // ... and find their translations there: a German desktop gets German.
    QProcessEnvironment german = QProcessEnvironment::systemEnvironment();
    for (const char *name : {"LC_ALL", "LC_MESSAGES", "LANGUAGE"})
        german.remove(QString::fromLatin1(name));
    german.insert(QStringLiteral("LANG"), QStringLiteral("de_DE.UTF-8"));
    const Ran english = run(bin + QStringLiteral("vexalo4"), {QStringLiteral("--help")});
    const Ran translated = run(bin + QStringLiteral("vexalo4"), {QStringLiteral("--help")}, german);
    QCOMPARE(translated.status, 0);
    const QString firstEnglishLine = english.out.section(QLatin1Char('\n'), 1, 1);
    QVERIFY(!firstEnglishLine.isEmpty());
    QVERIFY2(!translated.out.contains(firstEnglishLine), qPrintable(translated.out));

    QTemporaryDir work;
    QFile sample(work.filePath(QStringLiteral("a.txt")));
    QVERIFY(sample.open(QIODevice::WriteOnly));
    sample.write("one two one\n");
    sample.close();
    const Ran replaced = run(bin + QStringLiteral("vexalo4-cli"),
                             {QStringLiteral("replace"), QStringLiteral("-f"), QStringLiteral("one"),
                              QStringLiteral("-w"), QStringLiteral("1"), sample.fileName()});
    QCOMPARE(replaced.status, 0);
    QCOMPARE(replaced.out, QStringLiteral("a.txt:  replaced\n"));
    QCOMPARE(readText(sample.fileName()), QStringLiteral("1 two 1\n"));
}

void tst_installed::package()
{
    for (const char *tool : {"dpkg-deb", "dpkg-shlibdeps", "dpkg"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (packages dpkg, dpkg-dev)").arg(QLatin1String(tool))));
    }
    QTemporaryDir out;
    QVERIFY(out.isValid());
    const Ran made = run(QStringLiteral(VEXALO_CPACK),
                         {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("-B"), out.path(),
                          QStringLiteral("--config"), QStringLiteral(VEXALO_BUILD_DIR "/CPackConfig.cmake")},
                         {}, QStringLiteral(VEXALO_BUILD_DIR));
    QVERIFY2(made.status == 0, qPrintable(made.out + made.err));
    const QStringList debs = QDir(out.path()).entryList({QStringLiteral("*.deb")}, QDir::Files);
    QCOMPARE(debs.size(), 1);
    const QString deb = out.filePath(debs.first());
    qInfo().noquote() << "package:" << debs.first();

    // The package holds exactly the install tree.
    QTemporaryDir installed;
    QString why;
    QVERIFY2(installInto(installed.path(), &why), qPrintable(why));
    QTemporaryDir unpacked;
    const Ran extracted = run(QStringLiteral("dpkg"), {QStringLiteral("-x"), deb, unpacked.path()});
    QVERIFY2(extracted.status == 0, qPrintable(extracted.err));
    QCOMPARE(treeOf(unpacked.path()), treeOf(installed.path()));

    // The libraries the programs link come from the binaries themselves;
    // the platform plugin, which nothing links, is named by hand.
    const Ran depends = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Depends")});
    qInfo().noquote() << "Depends:" << depends.out.trimmed();
    for (const QString &needed : {QStringLiteral("libc6"), QStringLiteral("libqt6core6"),
                                  QStringLiteral("libqt6widgets6"), QStringLiteral("qt6-qpa-plugins")})
        QVERIFY2(hasWord(depends.out, needed), qPrintable(needed + QStringLiteral(" missing from Depends")));
    const Ran name = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Package")});
    QCOMPARE(name.out.trimmed(), QStringLiteral("vexalo4"));

    // The CLI runs from the unpacked copy.
    QTemporaryDir work;
    QFile sample(work.filePath(QStringLiteral("b.txt")));
    QVERIFY(sample.open(QIODevice::WriteOnly));
    sample.write("red green red\n");
    sample.close();
    const Ran replaced = run(unpacked.filePath(QStringLiteral("usr/bin/vexalo4-cli")),
                             {QStringLiteral("replace"), QStringLiteral("-b"), QStringLiteral("-f"),
                              QStringLiteral("red"), QStringLiteral("-w"), QStringLiteral("blue"), sample.fileName()});
    QCOMPARE(replaced.status, 0);
    QCOMPARE(replaced.out, QStringLiteral("b.txt:  replaced\n"));
    QCOMPARE(readText(sample.fileName()), QStringLiteral("blue green blue\n"));
    QCOMPARE(readText(sample.fileName() + QStringLiteral(".old")), QStringLiteral("red green red\n"));

    // Debian's own checks: no error and no warning. What the package asks
    // lintian to accept is in its overrides file, each with its reason.
    if (QStandardPaths::findExecutable(QStringLiteral("lintian")).isEmpty())
        QSKIP("lintian is not installed (package lintian)");
    const Ran lintian = run(
        QStringLiteral("lintian"),
        {QStringLiteral("--fail-on"), QStringLiteral("error,warning"), QStringLiteral("--no-tag-display-limit"), deb});
    qInfo().noquote() << "lintian:" << lintian.out + lintian.err;
    QVERIFY2(lintian.status == 0, qPrintable(lintian.out + lintian.err));
    for (const QString &line : lintian.out.split(QLatin1Char('\n')))
        QVERIFY2(!line.startsWith(QStringLiteral("E: ")) && !line.startsWith(QStringLiteral("W: ")), qPrintable(line));
}

// make install, then make uninstall, leaves nothing under the prefix: no
// file and none of the folders the install made (it once left 32).
void tst_installed::makeInstallThenUninstall()
{
    if (QStandardPaths::findExecutable(QStringLiteral("make")).isEmpty())
        QSKIP("make is not installed");
    QTemporaryDir root;
    QVERIFY(root.isValid());
    // A folder that was there before, empty, stays.
    const QString prefix = root.filePath(QStringLiteral("local"));
    QVERIFY(QDir().mkpath(prefix + QStringLiteral("/share/man")));
    const QStringList args{QStringLiteral("-C"), sourceDir, QStringLiteral("BUILD_DIR=" VEXALO_BUILD_DIR),
                           QStringLiteral("PREFIX=") + prefix};
    // The build is the tests' own to make: install only, from it as it stands.
    const Ran installed =
        run(QStringLiteral("make"),
            QStringList(args) << QStringLiteral("-o") << QStringLiteral("build") << QStringLiteral("install"));
    QVERIFY2(installed.status == 0, qPrintable(installed.out + installed.err));
    QVERIFY(QFile::exists(prefix + QStringLiteral("/bin/vexalo4-cli")));
    QVERIFY(QFile::exists(prefix + QStringLiteral("/share/vexalo4/translations/vexalo_de.qm")));
    const Ran removed = run(QStringLiteral("make"), QStringList(args) << QStringLiteral("uninstall"));
    QVERIFY2(removed.status == 0, qPrintable(removed.out + removed.err));
    QStringList left;
    QDirIterator it(prefix, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        left << QDir(prefix).relativeFilePath(it.next());
    QCOMPARE(left, (QStringList{QStringLiteral("share"), QStringLiteral("share/man")}));
}

QTEST_GUILESS_MAIN(tst_installed)
#include "tst_installed.moc"
