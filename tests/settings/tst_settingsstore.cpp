// SPDX-License-Identifier: MIT
#include "engine/files/FileNames.h"
#include "settings/MainWindowState.h"
#include "settings/NumberText.h"
#include "settings/ScreenFit.h"
#include "settings/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <limits>

using namespace vexalo;

Q_DECLARE_METATYPE(std::optional<float>)

class TestSettingsStore : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_programFolder;

    QString storeFile() const { return m_dir.filePath(QStringLiteral("store/Vexalo4.ini")); }
    SettingsStore store() const { return SettingsStore(m_programFolder, storeFile()); }

    // The main window as laid out before any settings reach it.
    static MainWindowState laidOut()
    {
        MainWindowState state;
        state.left = 0;
        state.top = 0;
        state.width = 7785 + 120;
        state.height = 7005 + 810;
        return state;
    }

    QVariant raw(const QString &key) const
    {
        QSettings settings(storeFile(), QSettings::IniFormat);
        return settings.value(QStringLiteral("Settings/") + key);
    }
    void putRaw(const QString &key, const QString &value) const
    {
        QSettings settings(storeFile(), QSettings::IniFormat);
        settings.setValue(QStringLiteral("Settings/") + key, value);
    }

    static MainWindowState sample()
    {
        MainWindowState state;
        state.left = -300;
        state.top = 45.5f;
        state.width = 9000;
        state.height = 6015;
        state.findString = QStringLiteral("first line\r\nsecond line\r\n");
        state.replaceString = QStringLiteral("one\ntwo");
        state.regularExpression = true;
        state.folders = {QStringLiteral("/f/one"), QStringLiteral("/f/two"), QStringLiteral("/f/three"),
                         QStringLiteral("/f/four"), QStringLiteral("/f/five")};
        return state;
    }

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QVERIFY(m_dir.isValid());
        m_programFolder = m_dir.filePath(QStringLiteral("program"));
    }

    void init() { QFile::remove(storeFile()); }

    void firstRunGivesDefaults()
    {
        MainWindowState state = laidOut();
        const SettingsResult result = store().run(QStringLiteral("get"), state);
        QVERIFY(result.ok);
        QCOMPARE(result.task, SettingsTask::Load);
        QCOMPARE(state.left, 1200.f);
        QCOMPARE(state.top, 1200.f);
        QCOMPARE(state.width, 7905.f);
        QCOMPARE(state.height, 7815.f);
        QCOMPARE(state.findString, QString());
        QCOMPARE(state.replaceString, QString());
        QCOMPARE(state.regularExpression, false);
        QCOMPARE(state.folders, QStringList(5, m_programFolder));
        // Loading writes nothing: a first run that ends without closing the
        // window leaves no store behind.
        QVERIFY(!QFile::exists(storeFile()));
    }

    void everyKeyRoundTripsThroughARestart()
    {
        const MainWindowState saved = sample();
        QVERIFY(store().run(QStringLiteral("save"), const_cast<MainWindowState &>(saved)).ok);

        MainWindowState loaded = laidOut();
        QVERIFY(store().run(QStringLiteral("get"), loaded).ok);
        QCOMPARE(loaded.left, saved.left);
        QCOMPARE(loaded.top, saved.top);
        QCOMPARE(loaded.width, saved.width);
        QCOMPARE(loaded.height, saved.height);
        QCOMPARE(loaded.findString, saved.findString);
        QCOMPARE(loaded.replaceString, saved.replaceString);
        QCOMPARE(loaded.regularExpression, true);
        QCOMPARE(loaded.folders, saved.folders);

        // Swapped pairs must come back swapped: guards against two keys being
        // crossed on one side only, which a single round trip of equal
        // values cannot show.
        MainWindowState swapped = loaded;
        std::swap(swapped.findString, swapped.replaceString);
        std::swap(swapped.left, swapped.top);
        std::swap(swapped.width, swapped.height);
        std::reverse(swapped.folders.begin(), swapped.folders.end());
        swapped.regularExpression = false;
        QVERIFY(store().save(swapped).ok);
        MainWindowState again = laidOut();
        again.regularExpression = true;
        QVERIFY(store().load(again).ok);
        QCOMPARE(again.regularExpression, false);
        QCOMPARE(again.findString, saved.replaceString);
        QCOMPARE(again.replaceString, saved.findString);
        QCOMPARE(again.left, saved.top);
        QCOMPARE(again.top, saved.left);
        QCOMPARE(again.width, saved.height);
        QCOMPARE(again.height, saved.width);
        QCOMPARE(again.folders.first(), QStringLiteral("/f/five"));
        QCOMPARE(again.folders.last(), QStringLiteral("/f/one"));
    }

    void textsSurviveTheStoreFormat_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("CR LF lines") << QStringLiteral("a\r\nb\r\n\r\nc");
        QTest::newRow("lone CR and LF") << QStringLiteral("a\rb\nc");
        QTest::newRow("commas") << QStringLiteral("one, two,three");
        QTest::newRow("INI syntax") << QStringLiteral("[Settings]\nkey=value ; comment # too");
        QTest::newRow("quotes and backslashes") << QStringLiteral("\"C:\\dir\\\" \\n 'x'");
        QTest::newRow("blanks at both ends") << QStringLiteral("  padded  ");
        QTest::newRow("at sign") << QStringLiteral("@Variant(bogus)");
        QTest::newRow("tab and a control character") << QStringLiteral("a\tb\x01"
                                                                       "c");
        QTest::newRow("non-ASCII") << QStringLiteral("Grüße, 東京, 😀");
        QTest::newRow("number-like") << QStringLiteral("0007905");
        QTest::newRow("path") << QStringLiteral("/home/u/my folder, old=1");
    }
    void textsSurviveTheStoreFormat()
    {
        QFETCH(QString, text);
        MainWindowState state = sample();
        state.findString = text;
        state.folders[2] = text;
        QVERIFY(store().save(state).ok);
        MainWindowState loaded = laidOut();
        QVERIFY(store().load(loaded).ok);
        QCOMPARE(loaded.findString, text);
        QCOMPARE(loaded.folders[2], text);
    }

    // A folder name is bytes; one that is not UTF-8 must come back as the
    // same folder, and ordinary ones stay readable text in the store.
    void folderNamesThatAreNotUtf8Survive()
    {
        MainWindowState state = sample();
        state.folders[0] = decodeFileName("/srv/dossier\xe9/caf\xef\xbf\xbd");
        state.folders[1] = decodeFileName("/srv/dossier\xe8");
        QVERIFY(store().save(state).ok);
        MainWindowState loaded = laidOut();
        QVERIFY(store().load(loaded).ok);
        QCOMPARE(encodeFileName(loaded.folders[0]), QByteArray("/srv/dossier\xe9/caf\xef\xbf\xbd"));
        QCOMPARE(encodeFileName(loaded.folders[1]), QByteArray("/srv/dossier\xe8"));
        QCOMPARE(loaded.folders.mid(2), state.folders.mid(2));
        QSettings raw(storeFile(), QSettings::IniFormat);
        QCOMPARE(raw.value("Settings/Folder3").toString(), state.folders[2]);
    }

    void geometryIsStoredAsPlainDecimalText()
    {
        MainWindowState state = sample();
        state.width = 7905;
        state.left = -300;
        state.top = 45.5f;
        QVERIFY(store().save(state).ok);
        QCOMPARE(raw(QStringLiteral("MainWidth")).toString(), QStringLiteral("7905"));
        QCOMPARE(raw(QStringLiteral("MainLeft")).toString(), QStringLiteral("-300"));
        QCOMPARE(raw(QStringLiteral("MainTop")).toString(), QStringLiteral("45.5"));
        // The store holds text, not a typed number another tool cannot read.
        QFile file(storeFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("MainWidth=7905\n"));
    }

    void formatSingle_data()
    {
        QTest::addColumn<float>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("whole") << 7905.f << QStringLiteral("7905");
        QTest::newRow("zero") << 0.f << QStringLiteral("0");
        QTest::newRow("negative zero") << -0.f << QStringLiteral("0");
        QTest::newRow("negative") << -1200.f << QStringLiteral("-1200");
        QTest::newRow("half") << 7905.5f << QStringLiteral("7905.5");
        QTest::newRow("float tenth, not double digits") << 0.1f << QStringLiteral("0.1");
        QTest::newRow("no exponent when large") << 1e7f << QStringLiteral("10000000");
        QTest::newRow("2^24") << 16777216.f << QStringLiteral("16777216");
        QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN() << QString();
        QTest::newRow("infinity") << std::numeric_limits<float>::infinity() << QString();
    }
    void formatSingle()
    {
        QFETCH(float, value);
        QFETCH(QString, text);
        QCOMPARE(vexalo::formatSingle(value), text);
        if (!text.isEmpty())
            QCOMPARE(vexalo::parseSingle(text), std::optional<float>(value == 0 ? 0.f : value));
    }

    void parseSingle_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<std::optional<float>>("value");
        QTest::newRow("digits") << QStringLiteral("7905") << std::optional<float>(7905);
        QTest::newRow("blanks around") << QStringLiteral(" 7905 ") << std::optional<float>(7905);
        QTest::newRow("sign") << QStringLiteral("-120") << std::optional<float>(-120);
        QTest::newRow("fraction") << QStringLiteral("7905.25") << std::optional<float>(7905.25f);
        QTest::newRow("exponent") << QStringLiteral("1e3") << std::optional<float>(1000);
        QTest::newRow("letters") << QStringLiteral("wide") << std::optional<float>();
        QTest::newRow("empty") << QString() << std::optional<float>();
        QTest::newRow("digits then letters") << QStringLiteral("7905px") << std::optional<float>();
        QTest::newRow("grouping") << QStringLiteral("7,905") << std::optional<float>();
        QTest::newRow("decimal comma") << QStringLiteral("7905,5") << std::optional<float>();
        QTest::newRow("nan") << QStringLiteral("nan") << std::optional<float>();
        QTest::newRow("inf") << QStringLiteral("inf") << std::optional<float>();
        QTest::newRow("beyond single") << QStringLiteral("1e40") << std::optional<float>();
    }
    void parseSingle()
    {
        QFETCH(QString, text);
        QFETCH(std::optional<float>, value);
        QCOMPARE(vexalo::parseSingle(text), value);
    }

    // A geometry value that cannot be used leaves that edge or size as laid
    // out; the other keys still load.
    void unusableGeometryKeepsTheLayout_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::newRow("width in letters") << QStringLiteral("MainWidth") << QStringLiteral("wide");
        QTest::newRow("empty height") << QStringLiteral("MainHeight") << QString();
        QTest::newRow("zero width") << QStringLiteral("MainWidth") << QStringLiteral("0");
        QTest::newRow("negative height") << QStringLiteral("MainHeight") << QStringLiteral("-15");
        QTest::newRow("left with a decimal comma") << QStringLiteral("MainLeft") << QStringLiteral("1200,5");
    }
    void unusableGeometryKeepsTheLayout()
    {
        QFETCH(QString, key);
        QFETCH(QString, value);
        QVERIFY(store().save(sample()).ok);
        putRaw(key, value);

        MainWindowState loaded = laidOut();
        QVERIFY(store().load(loaded).ok);
        const MainWindowState layout = laidOut();
        const MainWindowState saved = sample();
        QCOMPARE(loaded.left, key == QLatin1String("MainLeft") ? layout.left : saved.left);
        QCOMPARE(loaded.top, saved.top);
        QCOMPARE(loaded.width, key == QLatin1String("MainWidth") ? layout.width : saved.width);
        QCOMPARE(loaded.height, key == QLatin1String("MainHeight") ? layout.height : saved.height);
        QCOMPARE(loaded.findString, saved.findString);
        QCOMPARE(loaded.folders, saved.folders);
    }

    void minimisedOrMaximisedKeepsTheStoredGeometry_data()
    {
        QTest::addColumn<bool>("minimized");
        QTest::addColumn<bool>("maximized");
        QTest::newRow("maximised") << false << true;
        QTest::newRow("minimised") << true << false;
    }
    void minimisedOrMaximisedKeepsTheStoredGeometry()
    {
        QFETCH(bool, minimized);
        QFETCH(bool, maximized);
        QVERIFY(store().save(sample()).ok);

        MainWindowState big = sample();
        big.minimized = minimized;
        big.maximized = maximized;
        big.left = -60;
        big.top = -60;
        big.width = 28920;
        big.height = 16200;
        big.findString = QStringLiteral("new find");
        big.folders[0] = QStringLiteral("/new/folder");
        QVERIFY(store().save(big).ok);

        MainWindowState loaded = laidOut();
        QVERIFY(store().load(loaded).ok);
        QCOMPARE(loaded.left, sample().left);
        QCOMPARE(loaded.top, sample().top);
        QCOMPARE(loaded.width, sample().width);
        QCOMPARE(loaded.height, sample().height);
        QCOMPARE(loaded.findString, QStringLiteral("new find"));
        QCOMPARE(loaded.folders[0], QStringLiteral("/new/folder"));
    }

    void onlyExactGetLoads_data()
    {
        QTest::addColumn<QString>("task");
        QTest::addColumn<bool>("loads");
        QTest::newRow("get") << QStringLiteral("get") << true;
        QTest::newRow("Get") << QStringLiteral("Get") << false;
        QTest::newRow("GET") << QStringLiteral("GET") << false;
        QTest::newRow("save") << QStringLiteral("save") << false;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("trailing blank") << QStringLiteral("get ") << false;
    }
    void onlyExactGetLoads()
    {
        QFETCH(QString, task);
        QFETCH(bool, loads);
        putRaw(QStringLiteral("FindText"), QStringLiteral("stored"));

        MainWindowState state = sample();
        state.findString = QStringLiteral("in the window");
        const SettingsResult result = store().run(task, state);
        QVERIFY(result.ok);
        QCOMPARE(result.task, loads ? SettingsTask::Load : SettingsTask::Save);
        if (loads) {
            QCOMPARE(state.findString, QStringLiteral("stored"));
            QCOMPARE(raw(QStringLiteral("FindText")).toString(), QStringLiteral("stored"));
        } else {
            QCOMPARE(state.findString, QStringLiteral("in the window"));
            QCOMPARE(raw(QStringLiteral("FindText")).toString(), QStringLiteral("in the window"));
            QCOMPARE(raw(QStringLiteral("MainWidth")).toString(), QStringLiteral("9000"));
        }
    }

    // A value that cannot be written is skipped and the keys after it still
    // go in; the store keeps the skipped key's previous value.
    void aFailingKeyIsSkipped()
    {
        QVERIFY(store().save(sample()).ok);
        MainWindowState state = sample();
        state.left = 600;
        state.width = std::numeric_limits<float>::quiet_NaN();
        state.height = 4500;
        state.folders[4] = QStringLiteral("/later/key");
        QVERIFY(store().save(state).ok);
        QCOMPARE(raw(QStringLiteral("MainLeft")).toString(), QStringLiteral("600"));
        QCOMPARE(raw(QStringLiteral("MainWidth")).toString(), QStringLiteral("9000"));
        QCOMPARE(raw(QStringLiteral("MainHeight")).toString(), QStringLiteral("4500"));
        QCOMPARE(raw(QStringLiteral("Folder5")).toString(), QStringLiteral("/later/key"));
    }

    // Guards against a save reported as done when nothing reached the disk:
    // the store's folder cannot exist because a file has its name.
    void unwritableStoreIsNotReportedAsSaved()
    {
        QFile blocker(m_dir.filePath(QStringLiteral("blocker")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        const QString file = m_dir.filePath(QStringLiteral("blocker/Vexalo4.ini"));
        const SettingsStore blocked(m_programFolder, file);

        MainWindowState state = sample();
        const SettingsResult result = blocked.run(QStringLiteral("save"), state);
        QCOMPARE(result.task, SettingsTask::Save);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(QStringLiteral("blocker")), qPrintable(result.error));
        QVERIFY(!QFile::exists(file));
    }

    // A store holding what Qt cannot read (binary junk, another program's
    // file) was once rewritten by a save that then reported failure. A save
    // reported as failed leaves every byte of the store as it was, also when
    // the same process loaded the store first, as the window does.
    void failedSaveLeavesTheStoreIntact_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("loadedFirst");
        const QByteArray image = QByteArray::fromHex("89504e470d0a1a0a0000000d4948445200000010") + QByteArray(48, '\0');
        QByteArray noise;
        for (int i = 0; i < 512; ++i)
            noise += char((i * 167 + 13) & 0xff);
        QTest::newRow("image file") << image << false;
        QTest::newRow("binary noise") << noise << false;
        QTest::newRow("binary noise, loaded first") << noise << true;
        QTest::newRow("junk before a settings section, loaded first")
            << QByteArray("\x89PNG\r\n\x1a\n[Settings]\nFindText=kept\n") << true;
    }
    void failedSaveLeavesTheStoreIntact()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, loadedFirst);
        const QString folder = m_dir.filePath(QStringLiteral("store"));
        QDir().mkpath(folder);
        {
            QFile file(storeFile());
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(content), content.size());
        }
        if (loadedFirst) {
            MainWindowState state = laidOut();
            store().load(state);
        }
        const SettingsResult result = store().save(sample());
        QVERIFY2(!result.ok, "a save that could not read the store was reported as done");
        QVERIFY2(result.error.contains(QDir::toNativeSeparators(storeFile())), qPrintable(result.error));
        QFile file(storeFile());
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), content);
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("Vexalo4.ini")});
    }

    // The user's own store: per user, and readable without any application
    // or organisation name set by main(). Only read here, never written.
    void defaultStoreIsTheUsersOwn()
    {
        const SettingsStore user(m_programFolder);
        const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
        QVERIFY2(QDir::fromNativeSeparators(user.location()).startsWith(config), qPrintable(user.location()));
        QVERIFY2(user.location().contains(QStringLiteral("Vexalo4")), qPrintable(user.location()));
        MainWindowState state = laidOut();
        QVERIFY(user.load(state).ok);
    }

    // A store that cannot be read is reported, and the window still gets the
    // first-run values rather than empty folders.
    void unreadableStoreGivesDefaults()
    {
        const QString folderInTheWay = m_dir.filePath(QStringLiteral("dir-store.ini"));
        QVERIFY(QDir().mkpath(folderInTheWay));
        MainWindowState state = laidOut();
        const SettingsResult result = SettingsStore(m_programFolder, folderInTheWay).load(state);
        QVERIFY(!result.ok);
        QVERIFY2(result.error.contains(QStringLiteral("dir-store.ini")), qPrintable(result.error));
        QCOMPARE(state.width, 7905.f);
        QCOMPARE(state.folders, QStringList(5, m_programFolder));
    }

    // Another tool may write a text with a comma unquoted; Qt then reads it
    // as a list, which must not come back empty.
    void handWrittenListValueReadsAsText()
    {
        QDir().mkpath(m_dir.filePath(QStringLiteral("store")));
        QFile file(storeFile());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Settings]\nFindText=alpha, beta\nMainLeft=  2400 \n");
        file.close();
        MainWindowState loaded = laidOut();
        QVERIFY(store().load(loaded).ok);
        QCOMPARE(loaded.findString, QStringLiteral("alpha, beta"));
        QCOMPARE(loaded.left, 2400.f);
    }

    void offScreenWindowGoesToTheDefaultPosition_data()
    {
        QTest::addColumn<QList<QRect>>("screens");
        QTest::addColumn<QRectF>("stored"); // twips
        QTest::addColumn<bool>("moved");
        const QList<QRect> one{QRect(0, 0, 1920, 1080)};
        const QList<QRect> two{QRect(0, 0, 1920, 1080), QRect(1920, 0, 1280, 1024)};
        const QList<QRect> leftOfPrimary{QRect(-1280, 0, 1280, 1024), QRect(0, 0, 1920, 1080)};
        QTest::newRow("on the screen") << one << QRectF(1200, 1200, 7905, 7815) << false;
        QTest::newRow("partly off to the left") << one << QRectF(-7000, 1200, 7905, 7815) << false;
        QTest::newRow("partly above") << one << QRectF(1200, -7000, 7905, 7815) << false;
        QTest::newRow("right of the only screen") << one << QRectF(1920 * 15, 1200, 7905, 7815) << true;
        QTest::newRow("just touching the right edge") << one << QRectF(1920 * 15, 0, 7905, 7815) << true;
        QTest::newRow("one pixel still on") << one << QRectF(1919 * 15, 0, 7905, 7815) << false;
        QTest::newRow("below everything") << one << QRectF(0, 1080 * 15 + 15, 7905, 7815) << true;
        QTest::newRow("on the second screen") << two << QRectF(2000 * 15, 100 * 15, 7905, 7815) << false;
        QTest::newRow("second screen gone") << one << QRectF(2000 * 15, 100 * 15, 7905, 7815) << true;
        QTest::newRow("negative, on a left screen") << leftOfPrimary << QRectF(-1000 * 15, 0, 7905, 7815) << false;
        QTest::newRow("negative, no left screen") << one << QRectF(-1000 * 15, 0, 7905, 7815) << true;
        QTest::newRow("gap between screens")
            << QList<QRect>{QRect(0, 0, 800, 600), QRect(2000, 0, 800, 600)} << QRectF(900 * 15, 0, 1500, 1500) << true;
        QTest::newRow("far beyond any int") << one << QRectF(1e30, 1e30, 7905, 7815) << true;
        QTest::newRow("no screens known") << QList<QRect>{} << QRectF(1e6, 1e6, 7905, 7815) << false;
    }
    void offScreenWindowGoesToTheDefaultPosition()
    {
        QFETCH(QList<QRect>, screens);
        QFETCH(QRectF, stored);
        QFETCH(bool, moved);
        MainWindowState state;
        state.left = float(stored.x());
        state.top = float(stored.y());
        state.width = float(stored.width());
        state.height = float(stored.height());
        QCOMPARE(keepOnScreen(state, screens), moved);
        QCOMPARE(state.left, moved ? 1200.f : float(stored.x()));
        QCOMPARE(state.top, moved ? 1200.f : float(stored.y()));
        QCOMPARE(state.width, float(stored.width()));
        QCOMPARE(state.height, float(stored.height()));
    }

    // A window stored off every screen, loaded through the store as start-up
    // does it.
    void storedOffScreenThroughTheStore()
    {
        putRaw(QStringLiteral("MainLeft"), QStringLiteral("60000"));
        putRaw(QStringLiteral("MainTop"), QStringLiteral("300"));
        MainWindowState state = laidOut();
        QVERIFY(store().load(state).ok);
        QVERIFY(keepOnScreen(state, {QRect(0, 0, 1920, 1080)}));
        QCOMPARE(state.left, 1200.f);
        QCOMPARE(state.top, 1200.f);
        QCOMPARE(state.width, 7905.f);
    }

    void twipsToPixels_data()
    {
        QTest::addColumn<float>("twips");
        QTest::addColumn<int>("pixels");
        QTest::newRow("whole") << 7905.f << 527;
        QTest::newRow("rounds") << 7912.f << 527;
        QTest::newRow("rounds up") << 7913.f << 528;
        QTest::newRow("negative") << -300.f << -20;
        QTest::newRow("huge is held") << 1e30f << 16777215;
        QTest::newRow("hugely negative is held") << -1e30f << -16777215;
    }
    void twipsToPixels()
    {
        QFETCH(float, twips);
        QFETCH(int, pixels);
        QCOMPARE(vexalo::twipsToPixels(twips), pixels);
    }
};

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "tst_settingsstore.moc"
