// SPDX-License-Identifier: MIT
// What a screen reader finds in the three windows: every control it can
// reach has a name, and the controls that act on a click in a way their
// caption does not say carry a description.
#include "FakeServices.h"
#include "ui/frmMain/frmMain.h"
#include "ui/frmViewer/frmViewer.h"
#include "ui/help/frmAbout.h"

#include <QAccessible>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Roles that only hold, frame or separate other things, and the scroll bars, which
// belong to the named box around them and are read as "scroll bar" with
// their position; a reader needs no name for these.
bool isStructure(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::Client:
    case QAccessible::Pane:
    case QAccessible::Grouping:
    case QAccessible::Separator:
    case QAccessible::Whitespace:
    case QAccessible::LayeredPane:
    case QAccessible::ScrollBar:
    case QAccessible::Border: return true;
    default: return false;
    }
}

QString describe(QAccessibleInterface *iface)
{
    QObject *object = iface->object();
    QString where = object ? object->objectName() : QString();
    if (where.isEmpty() && object)
        where = QString::fromLatin1(object->metaObject()->className());
    for (QAccessibleInterface *up = iface->parent(); where.isEmpty() && up; up = up->parent()) {
        if (up->object() && !up->object()->objectName().isEmpty())
            where = QStringLiteral("inside ") + up->object()->objectName();
    }
    return QStringLiteral("%1 (role %2)").arg(where).arg(int(iface->role()));
}

// Walks the tree below iface; every control without a name is listed in
// unnamed, every control met in seen.
void walk(QAccessibleInterface *iface, bool skipInvisible, QStringList *unnamed, QSet<QString> *seen, int depth = 0)
{
    if (!iface || !iface->isValid() || depth > 30)
        return;
    if (skipInvisible && iface->state().invisible)
        return;
    if (!isStructure(iface->role())) {
        if (iface->object())
            seen->insert(iface->object()->objectName());
        if (iface->text(QAccessible::Name).trimmed().isEmpty())
            unnamed->append(describe(iface));
    }
    for (int i = 0; i < iface->childCount(); ++i)
        walk(iface->child(i), skipInvisible, unnamed, seen, depth + 1);
}

QString description(QWidget *widget)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(widget);
    return iface ? iface->text(QAccessible::Description) : QString();
}

} // namespace

class tst_Accessibility : public QObject {
    Q_OBJECT

private slots:
    void everyControlHasAName_data();
    void everyControlHasAName();
    void clickableLabelsSayWhatTheyDo();
};

void tst_Accessibility::everyControlHasAName_data()
{
    QTest::addColumn<QString>("window");
    QTest::newRow("frmMain") << QStringLiteral("frmMain");
    QTest::newRow("frmViewer") << QStringLiteral("frmViewer");
    QTest::newRow("frmAbout") << QStringLiteral("frmAbout");
}

void tst_Accessibility::everyControlHasAName()
{
    QFETCH(QString, window);

    QTemporaryDir dir;
    QFile sample(dir.filePath(QStringLiteral("a.htm")));
    QVERIFY(sample.open(QIODevice::WriteOnly));
    sample.write("<p>text</p>\n");
    sample.close();
    FakeServices fakes;
    fakes.places.program = dir.path();
    fakes.places.working = dir.path();

    std::unique_ptr<QWidget> shown;
    QStringList mustBeSeen;
    QMenu *popup = nullptr;
    if (window == QLatin1String("frmMain")) {
        auto *main = new frmMain(fakes.services());
        shown.reset(main);
        main->useSettingsFile(dir.filePath(QStringLiteral("store.conf")));
        main->startUp();
        popup = main->mnuPopUpCase;
        mustBeSeen = {QStringLiteral("Drive1"),     QStringLiteral("Dir1"),          QStringLiteral("lstFiles"),
                      QStringLiteral("cmbPattern"), QStringLiteral("txtFindString"), QStringLiteral("txtReplaceString"),
                      QStringLiteral("txtResults"), QStringLiteral("txtLastFolder"), QStringLiteral("lblFolders"),
                      QStringLiteral("cmdReplace"), QStringLiteral("chkTrim")};
    } else if (window == QLatin1String("frmViewer")) {
        auto *viewer = new frmViewer(fakes.services());
        shown.reset(viewer);
        QString error;
        QVERIFY2(viewer->loadFile(vexalo::FilePath::fromString(sample.fileName()), &error), qPrintable(error));
        mustBeSeen = {QStringLiteral("txtViewer"), QStringLiteral("cmdSave"), QStringLiteral("txtSave")};
    } else {
        shown = std::make_unique<frmAbout>();
        mustBeSeen = {QStringLiteral("lblStatus")};
    }
    shown->setAttribute(Qt::WA_DeleteOnClose, false);
    shown->show();
    QVERIFY(QTest::qWaitForWindowExposed(shown.get()));

    QStringList unnamed;
    QSet<QString> seen;
    QAccessibleInterface *root = QAccessible::queryAccessibleInterface(shown.get());
    QVERIFY(root);
    QVERIFY(!root->text(QAccessible::Name).isEmpty());
    walk(root, true, &unnamed, &seen);
    // The file list's pop-up menu is a window of its own, hidden until asked for.
    if (popup)
        walk(QAccessible::queryAccessibleInterface(popup), false, &unnamed, &seen);

    QVERIFY2(unnamed.isEmpty(),
             qPrintable(QStringLiteral("no accessible name: ") + unnamed.join(QStringLiteral(", "))));
    // The walk really reached the controls (a walk that stops at the window
    // would find nothing unnamed).
    for (const QString &name : mustBeSeen)
        QVERIFY2(seen.contains(name), qPrintable(name + QStringLiteral(" was not reached")));
}

void tst_Accessibility::clickableLabelsSayWhatTheyDo()
{
    QTemporaryDir dir;
    FakeServices fakes;
    fakes.places.program = dir.path();
    fakes.places.working = dir.path();
    frmMain window(fakes.services());
    window.useSettingsFile(dir.filePath(QStringLiteral("store.conf")));
    window.startUp();

    // Captions that name a box, not what a click on them does.
    for (QWidget *widget :
         std::initializer_list<QWidget *>{window.Label1, window.Label2, window.lblFolders, window.txtLastFolder}) {
        const QString said = description(widget);
        QVERIFY2(!said.isEmpty(), qPrintable(widget->objectName()));
        QVERIFY2(said.contains(QStringLiteral("click"), Qt::CaseInsensitive), qPrintable(said));
    }
    // The box a label belongs to is named by that label's caption, so a
    // reader says "Replace This" on entering the box, as a sighted user reads it.
    auto nameOf = [](QWidget *w) { return QAccessible::queryAccessibleInterface(w)->text(QAccessible::Name); };
    QCOMPARE(nameOf(window.txtFindString) + QLatin1Char(':'), window.Label1->text());
    QCOMPARE(nameOf(window.txtReplaceString) + QLatin1Char(':'), window.Label2->text());
    QCOMPARE(nameOf(window.txtLastFolder) + QLatin1Char(':'), window.lblFolders->text());
    QCOMPARE(nameOf(window.txtResults) + QLatin1Char(':'), window.Label3->text());
}

QTEST_MAIN(tst_Accessibility)
#include "tst_accessibility.moc"
