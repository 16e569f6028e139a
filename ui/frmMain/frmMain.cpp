// SPDX-License-Identifier: MIT
#include "frmMain.h"

#include "DriveComboBox.h"
#include "FileListModel.h"
#include "engine/files/FileNames.h"
#include "engine/files/ProtectedList.h"
#include "platform/FileSystemPlaces.h"
#include "settings/HandOff.h"
#include "settings/OnlineUpdate.h"
#include "settings/ScreenFit.h"
#include "settings/StartFolders.h"
#include "ui/common/CutOffToolTipDelegate.h"
#include "ui/common/KeyboardAccess.h"
#include "ui/common/ReadableColours.h"
#include "ui/common/ScreenPlacement.h"
#include "ui/common/Twips.h"
#include "ui/frmViewer/frmViewer.h"
#include "ui/help/HelpLinks.h"
#include "ui/help/frmAbout.h"
#include "ui/help/WindowIcons.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QStyleOptionButton>

#include <cmath>

namespace {

constexpr int folderPathRole = Qt::UserRole;
constexpr int folderDepthRole = Qt::UserRole + 1;

void setBackground(QWidget *widget, const QColor &colour)
{
    colours::setFixedBackground(widget, colour);
}

template <typename Widget>
Widget *place(Widget *widget, const char *name, float left, float top, float width, float height)
{
    widget->setObjectName(QLatin1String(name));
    widget->setGeometry(twips::toPixelRect(left, top, width, height));
    return widget;
}

// Where the preferred font is missing, a wider one takes its place; such a
// caption gets a smaller size rather than being cut off.
void shrinkToFit(QWidget *widget)
{
    QString caption;
    qreal room = widget->width();
    if (auto *label = qobject_cast<QLabel *>(widget)) {
        caption = label->text();
    } else if (auto *check = qobject_cast<QCheckBox *>(widget)) {
        caption = check->text();
        // The room the style leaves the caption beside the box, not what its
        // size hint asks for: the hint adds margins the caption never uses,
        // which once shrank "Case Sensitive" alone below its neighbours.
        QStyleOptionButton option;
        option.initFrom(check);
        option.text = caption;
        room = check->style()->subElementRect(QStyle::SE_CheckBoxContents, &option, check).width();
    }
    // Measured unrounded, with half a pixel to spare: at a scale of 1.5 or 2
    // a rounded width can come out a pixel wider than the caption needs.
    QFont font = widget->font();
    while (font.pointSizeF() > 6 && QFontMetricsF(font).horizontalAdvance(caption) > room + 0.5)
        font.setPointSizeF(font.pointSizeF() - 0.5);
    widget->setFont(font);
}

// A translated caption longer than its button widens the button to the
// left: the row keeps its right edge and its gaps and moves into the free
// room before it. Captions that fit leave the design's geometry as it is.
void widenForCaptions(const QList<QPushButton *> &row)
{
    QList<int> gaps;
    for (qsizetype i = 0; i < row.size(); ++i)
        gaps << (i == 0 ? 0 : row[i]->x() - row[i - 1]->geometry().right() - 1);
    int right = row.last()->geometry().right() + 1;
    for (qsizetype i = row.size() - 1; i >= 0; --i) {
        QPushButton *button = row[i];
        const qreal needed =
            QFontMetricsF(button->font()).horizontalAdvance(QString(button->text()).remove(QLatin1Char('&')));
        const int width = std::max(button->width(), int(std::ceil(needed)) + 6);
        button->setGeometry(right - width, button->y(), width, button->height());
        right = button->x() - gaps[i];
    }
}

QAction *namedAction(QMenu *menu, const char *name, const QString &caption)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(QLatin1String(name));
    return action;
}

} // namespace

frmMain::frmMain(const Services &services, QWidget *parent)
    : QMainWindow(parent)
    , m_services(services)
    , m_settingsStore(services.places->programFolder())
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(tr("Vexalo"));
    setWindowIcon(WindowIcons::mainWindow());
    for (int i = 0; i < 5; ++i)
        Folders << QString();

    createControls();
    createMenus();
    assignAccessKeys();
    connectHandlers();
    describeForAssistiveTools();
    updateUndo();
    resize(twips::toPixels(7785), twips::toPixels(7005) + menuBar()->sizeHint().height());

    // Before start-up the lists show the folder the program was started in.
    const QString startFolder = m_services.places->workingFolder();
    for (const DriveInfo &drive : m_services.places->drives())
        Drive1->addItem(drive.label, drive.rootPath);
    Drive1->setCurrentIndex(std::max(0, Drive1->findData(m_services.places->driveOf(startFolder))));
    setDrive1Drive(startFolder);
    setDir1Path(startFolder, nullptr);
}

frmMain::~frmMain()
{
    delete m_viewer;
}

void frmMain::createControls()
{
    auto *client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    setCentralWidget(client);
    // The twips layout was made for a small, narrow font; the desktop's usual
    // font would not fit the boxes, so the window brings its own.
    QFont small(QStringLiteral("DejaVu Sans Condensed"));
    small.setPointSizeF(8);
    client->setFont(small);

    const QColor peach(255, 224, 192);

    Drive1 = place(new DriveComboBox(client), "Drive1", 120, 120, 1815, 315);
    setBackground(Drive1, peach);

    Dir1 = place(new QListWidget(client), "Dir1", 120, 480, 1815, 2565);
    // Ancestors, then sub-folders, each one step deeper, so the hierarchy reads at a glance.
    Dir1->setItemDelegate(new CutOffToolTipDelegate(folderPathRole, folderDepthRole, Dir1));
    Dir1->setUniformItemSizes(true);
    setBackground(Dir1, peach);

    m_files = new FileListModel(this);
    m_files->setPattern(QStringLiteral("*.htm"));
    lstFiles = place(new QListView(client), "lstFiles", 120, 3120, 1815, 2625);
    lstFiles->setModel(m_files);
    lstFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstFiles->setUniformItemSizes(true);
    lstFiles->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lstFiles->setItemDelegate(new CutOffToolTipDelegate(Qt::DisplayRole, -1, lstFiles));
    setBackground(lstFiles, peach);

    cmdSelectAll = place(new QPushButton(tr("Select"), client), "cmdSelectAll", 240, 5880, 615, 255);
    cmdClear = place(new QPushButton(tr("Clear"), client), "cmdClear", 240, 6240, 615, 255);
    cmdLower = place(new QPushButton(tr("Lower"), client), "cmdLower", 1080, 5880, 735, 255);
    cmdUpper = place(new QPushButton(tr("Upper"), client), "cmdUpper", 1080, 6240, 735, 255);

    cmbPattern = place(new QComboBox(client), "cmbPattern", 840, 6600, 1095, 315);
    cmbPattern->setEditable(true);
    cmbPattern->setInsertPolicy(QComboBox::NoInsert);
    cmbPattern->addItems({QStringLiteral("*.htm"), QStringLiteral("*.txt"), QStringLiteral("*."), QStringLiteral("*.*"),
                          QStringLiteral("*.html"), QStringLiteral("*.bat"), QStringLiteral("*.old")});
    cmbPattern->setCurrentIndex(0);
    setBackground(cmbPattern, peach);

    auto textBox = [client](const char *name, float top, float height, const QColor &colour) {
        auto *box = place(new QPlainTextEdit(client), name, 2040, top, 5655, height);
        box->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        // Tab moves on to the next control, as in every other box of the window.
        box->setTabChangesFocus(true);
        setBackground(box, colour);
        return box;
    };
    txtFindString = textBox("txtFindString", 360, 1575, QColor(255, 255, 192));
    txtReplaceString = textBox("txtReplaceString", 2280, 1455, QColor(192, 255, 255));
    txtResults = textBox("txtResults", 4080, 1815, QColor(192, 255, 192));

    chkBackup = place(new QCheckBox(tr("Create Backups"), client), "chkBackup", 2040, 6120, 1575, 195);
    chkCaseSensitive = place(new QCheckBox(tr("Case Sensitive"), client), "chkCaseSensitive", 2040, 6360, 1455, 255);
    chkTrim = place(new QCheckBox(tr("Trim Blank Lines"), client), "chkTrim", 2040, 6600, 1695, 255);

    cmdReplace = place(new QPushButton(tr("Replace"), client), "cmdReplace", 5160, 6000, 855, 375);
    cmdRestore = place(new QPushButton(tr("Restore"), client), "cmdRestore", 6120, 6000, 855, 375);
    cmdExit = place(new QPushButton(tr("Exit"), client), "cmdExit", 7080, 6000, 615, 375);

    txtLastFolder = place(new PressableLineEdit(client), "txtLastFolder", 3720, 6600, 3975, 285);
    txtLastFolder->setReadOnly(true);
    setBackground(txtLastFolder, peach);

    lblPattern = place(new QLabel(tr("Pattern:"), client), "lblPattern", 120, 6600, 735, 255);
    Label1 = place(new PressableLabel(tr("Replace This:"), client), "Label1", 2040, 120, 1335, 255);
    Label2 = place(new PressableLabel(tr("With This:"), client), "Label2", 2040, 2040, 1455, 255);
    Label3 = place(new QLabel(tr("Results:"), client), "Label3", 2040, 3840, 735, 255);
    // So that nobody replaces with a pattern by surprise.
    lblRegularExpression = place(new QLabel(tr("(the find text is a regular expression)"), client),
                                 "lblRegularExpression", 2880, 3840, 4815, 255);
    lblRegularExpression->setVisible(false);
    lblFolders = place(new PressableLabel(tr("Last Folder:"), client), "lblFolders", 3720, 6360, 855, 255);

    Shape1 = place(new QFrame(client), "Shape1", 3960, 0, 375, 375);
    Shape1->setFrameShape(QFrame::Box);
    Shape1->setFrameShadow(QFrame::Plain);
    Shape1->setLineWidth(1);

    for (QWidget *captioned : std::initializer_list<QWidget *>{lblPattern, Label1, Label2, Label3, lblFolders,
                                                               chkBackup, chkCaseSensitive, chkTrim})
        shrinkToFit(captioned);
    widenForCaptions({cmdReplace, cmdRestore, cmdExit});

    const QList<QWidget *> tabOrder = {Drive1,     Dir1,      lstFiles,         cmdSelectAll,  cmdClear,
                                       cmdLower,   cmdUpper,  cmbPattern,       txtFindString, txtReplaceString,
                                       txtResults, chkBackup, chkCaseSensitive, chkTrim,       cmdReplace,
                                       cmdRestore, cmdExit,   txtLastFolder};
    for (qsizetype i = 1; i < tabOrder.size(); ++i)
        setTabOrder(tabOrder[i - 1], tabOrder[i]);

    for (QPushButton *button : {cmdSelectAll, cmdClear, cmdLower, cmdUpper, cmdReplace, cmdRestore, cmdExit})
        keyboard::pressOnEnter(button);
}

// Access keys leave the captions' text as it is; the style underlines the
// letter. The buttons, check boxes and menu titles share one set of letters,
// in every language: a translation marks the letter it prefers, and where two
// captions want the same one the later gets another (German "Ausführen" and
// "Beenden" both hold an N). Help takes its letter first, as everywhere.
void frmMain::assignAccessKeys()
{
    QString taken;
    keyboard::addAccessKey(mnuHelp, QLatin1Char('h'), taken);
    const std::pair<QAbstractButton *, char> accessKeys[] = {
        {cmdSelectAll, 's'}, {cmdClear, 'e'}, {cmdLower, 'l'},  {cmdUpper, 'u'},         {cmdReplace, 'r'},
        {cmdRestore, 'o'},   {cmdExit, 'x'},  {chkBackup, 'b'}, {chkCaseSensitive, 'c'}, {chkTrim, 't'}};
    for (const auto &[button, key] : accessKeys)
        keyboard::addAccessKey(button, QLatin1Char(key), taken);
    keyboard::addAccessKey(mnuRun, QLatin1Char('n'), taken);

    // Each menu's items have letters of their own.
    QString runKeys;
    for (QAction *item : mnuRun->actions()) {
        if (!item->isSeparator())
            item->setText(keyboard::withAccessKey(item->text(), QChar(), runKeys));
    }
}

void frmMain::createMenus()
{
    // Left of Help, which stays last.
    mnuRun = menuBar()->addMenu(tr("Run"));
    mnuRun->setObjectName(QStringLiteral("mnuRun"));
    mnuPreview = namedAction(mnuRun, "mnuPreview", tr("&Preview"));
    mnuPreview->setShortcut(QKeySequence(Qt::Key_F5));
    mnuPreview->setShortcutContext(Qt::WindowShortcut);
    mnuPreview->setStatusTip(tr("Shows what Replace would do to the selected files, writing nothing."));
    mnuRun->addSeparator();
    mnuReplace = namedAction(mnuRun, "mnuReplace", tr("&Replace"));
    mnuRestore = namedAction(mnuRun, "mnuRestore", tr("Rest&ore"));
    mnuRun->addSeparator();
    mnuUndo = namedAction(mnuRun, "mnuUndo", tr("&Undo Last Run"));
    mnuUndo->setStatusTip(tr("Puts back the files the last Replace run changed, where they have not changed since."));
    mnuRun->addSeparator();
    mnuRegularExpression = namedAction(mnuRun, "mnuRegularExpression", tr("Regular &Expression"));
    mnuRegularExpression->setCheckable(true);
    mnuRegularExpression->setStatusTip(
        tr("Takes the find text as a regular expression; the replacement may use its groups as $1 or ${name}."));

    mnuHelp = menuBar()->addMenu(tr("Help"));
    mnuHelp->setObjectName(QStringLiteral("mnuHelp"));
    mnuEmail = namedAction(mnuHelp, "mnuEmail", tr("Email Author"));
    mnuWebSite = namedAction(mnuHelp, "mnuWebSite", tr("Web Site"));
    mnuForums = namedAction(mnuHelp, "mnuForums", tr("Discussion Forums"));
    mnuOnlineHelp = namedAction(mnuHelp, "mnuOnlineHelp", tr("Online Help"));
    mnuUpdate = namedAction(mnuHelp, "mnuUpdate", tr("Online Update"));
    mnuSel = mnuHelp->addSeparator();
    mnuSel->setObjectName(QStringLiteral("mnuSel"));
    mnuAbout = namedAction(mnuHelp, "mnuAbout", tr("About"));
    // Alt+H opens the menu through its access key; F10 as GNOME programs do.
    auto *helpKey = new QShortcut(QKeySequence(Qt::Key_F10), this);
    connect(helpKey, &QShortcut::activated, this, [this] { menuBar()->setActiveAction(mnuHelp->menuAction()); });
    auto *quitKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    connect(quitKey, &QShortcut::activated, this, &frmMain::cmdExitClick);

    // Never on the menu bar: it opens over the file list only.
    mnuPopUpCase = new QMenu(tr("Popup"), this);
    mnuPopUpCase->setObjectName(QStringLiteral("mnuPopUpCase"));
    mnuUpperCase = namedAction(mnuPopUpCase, "mnuUpperCase", tr("Upper Case"));
    mnuLowerCase = namedAction(mnuPopUpCase, "mnuLowerCase", tr("Lower Case"));
    mnuSelectAll = namedAction(mnuPopUpCase, "mnuSelectAll", tr("Select All"));
    mnuUnSelectAll = namedAction(mnuPopUpCase, "mnuUnSelectAll", tr("UnSelect All"));
}

// A screen reader names a control by its caption, and most here have none:
// the boxes are named after the label above them. The labels and the box that
// act on a click do what no label says, so they say it here.
void frmMain::describeForAssistiveTools()
{
    Drive1->setAccessibleName(tr("Drive"));
    Dir1->setAccessibleName(tr("Folders"));
    Dir1->setAccessibleDescription(tr("A click opens a folder."));
    lstFiles->setAccessibleName(tr("Files"));
    lstFiles->setAccessibleDescription(
        tr("Double-click or Enter shows a file in the viewer; the context menu changes case and selection."));
    cmdSelectAll->setAccessibleDescription(tr("Selects every file in the list."));
    cmdClear->setAccessibleDescription(tr("Unselects every file in the list."));
    cmdLower->setAccessibleDescription(tr("Renames the selected files to lower case."));
    cmdUpper->setAccessibleDescription(tr("Renames the selected files to upper case."));
    cmbPattern->setAccessibleName(tr("Pattern"));
    cmbPattern->lineEdit()->setAccessibleName(tr("Pattern"));
    cmbPattern->setAccessibleDescription(tr("The files listed: wildcards * and ?, several separated by ;"));
    txtFindString->setAccessibleName(tr("Replace This"));
    txtReplaceString->setAccessibleName(tr("With This"));
    txtResults->setAccessibleName(tr("Results"));
    txtResults->setAccessibleDescription(tr("One line per file of the last run."));
    Label1->setAccessibleDescription(tr("A click swaps the text to find and its replacement."));
    Label2->setAccessibleDescription(tr("A click swaps the text to find and its replacement."));
    lblFolders->setAccessibleDescription(tr("A click steps through the last five run folders."));
    txtLastFolder->setAccessibleName(tr("Last Folder"));
    txtLastFolder->setAccessibleDescription(tr("A double-click goes back to this folder."));
    chkTrim->setAccessibleDescription(tr("Removes line breaks from the ends of both texts before a run."));
    cmdRestore->setAccessibleDescription(tr("Puts back the .old backups of the selected files."));
    menuBar()->setAccessibleName(tr("Menu bar"));
    mnuPopUpCase->setAccessibleName(tr("File commands"));
}

void frmMain::connectHandlers()
{
    connect(Drive1, &QComboBox::activated, this, &frmMain::drive1Change);
    connect(Dir1, &QListWidget::itemClicked, this, &frmMain::dir1Click);
    connect(cmbPattern, &QComboBox::activated, this, &frmMain::cmbPatternClick);
    // Qt reports Enter as a choice only when the text equals an item; a
    // pattern typed and confirmed must not be left on show unapplied.
    connect(cmbPattern->lineEdit(), &QLineEdit::returnPressed, this, &frmMain::cmbPatternTyped);
    static_cast<DriveComboBox *>(Drive1)->beforePopup = [this] { refreshDrives(); };

    connect(cmdSelectAll, &QPushButton::clicked, this, &frmMain::cmdSelectAllClick);
    connect(cmdClear, &QPushButton::clicked, this, &frmMain::cmdClearClick);
    connect(mnuSelectAll, &QAction::triggered, this, &frmMain::mnuSelectAllClick);
    connect(mnuUnSelectAll, &QAction::triggered, this, &frmMain::mnuUnSelectAllClick);
    connect(lstFiles, &QListView::clicked, this, &frmMain::lstFilesClick);
    connect(lstFiles, &QListView::doubleClicked, this, &frmMain::lstFilesDblClick);
    connect(cmdUpper, &QPushButton::clicked, this, &frmMain::cmdUpperClick);
    connect(cmdLower, &QPushButton::clicked, this, &frmMain::cmdLowerClick);
    connect(mnuUpperCase, &QAction::triggered, this, &frmMain::mnuUpperCaseClick);
    connect(mnuLowerCase, &QAction::triggered, this, &frmMain::mnuLowerCaseClick);

    connect(txtFindString, &QPlainTextEdit::textChanged, this, &frmMain::txtFindStringChange);
    connect(txtReplaceString, &QPlainTextEdit::textChanged, this, &frmMain::txtReplaceStringChange);
    connect(cmdReplace, &QPushButton::clicked, this, &frmMain::cmdReplaceClick);
    connect(cmdRestore, &QPushButton::clicked, this, &frmMain::cmdRestoreClick);
    connect(cmdExit, &QPushButton::clicked, this, &frmMain::cmdExitClick);

    connect(mnuPreview, &QAction::triggered, this, &frmMain::mnuPreviewClick);
    connect(mnuRegularExpression, &QAction::toggled, this, &frmMain::mnuRegularExpressionClick);
    connect(mnuReplace, &QAction::triggered, this, &frmMain::cmdReplaceClick);
    connect(mnuRestore, &QAction::triggered, this, &frmMain::cmdRestoreClick);
    connect(mnuUndo, &QAction::triggered, this, &frmMain::mnuUndoClick);
    // Another run (vexalo4-cli, a second window) may have changed the journal.
    connect(mnuRun, &QMenu::aboutToShow, this, &frmMain::updateUndo);
    connect(mnuEmail, &QAction::triggered, this, &frmMain::mnuEmailClick);
    connect(mnuWebSite, &QAction::triggered, this, &frmMain::mnuWebSiteClick);
    connect(mnuForums, &QAction::triggered, this, &frmMain::mnuForumsClick);
    connect(mnuOnlineHelp, &QAction::triggered, this, &frmMain::mnuOnlineHelpClick);
    connect(mnuUpdate, &QAction::triggered, this, &frmMain::mnuUpdateClick);
    connect(mnuAbout, &QAction::triggered, this, &frmMain::mnuAboutClick);

    // What a click on a caption does, by key and for a screen reader too.
    auto *swapKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_X), this);
    connect(swapKey, &QShortcut::activated, this, &frmMain::swapTexts);
    auto *historyKey = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_L), this);
    connect(historyKey, &QShortcut::activated, this, &frmMain::lblFoldersClick);
    // Made as these kinds in createControls.
    keyboard::offerPressAction(static_cast<PressableLabel *>(Label1), [this] { label1Click(); });
    keyboard::offerPressAction(static_cast<PressableLabel *>(Label2), [this] { label2Click(); });
    keyboard::offerPressAction(static_cast<PressableLabel *>(lblFolders), [this] { lblFoldersClick(); });
    keyboard::offerPressAction(static_cast<PressableLineEdit *>(txtLastFolder), [this] { txtLastFolderDblClick(); });
    keyboard::pressOnKeys(txtLastFolder, [this] { txtLastFolderDblClick(); });
    for (QPlainTextEdit *box : {txtFindString, txtReplaceString, txtResults})
        keyboard::ignoreAltTyping(box);

    // Events that Qt offers as signals on other widgets only (label clicks,
    // focus, a double click on a line edit, the right button on the list).
    for (QObject *watched :
         std::initializer_list<QObject *>{Label1, Label2, lblFolders, txtLastFolder, txtFindString, txtReplaceString,
                                          lstFiles, lstFiles->viewport(), Dir1, cmbPattern, cmbPattern->lineEdit()})
        watched->installEventFilter(this);
}

bool frmMain::eventFilter(QObject *watched, QEvent *event)
{
    const auto type = event->type();
    if (type == QEvent::MouseButtonRelease && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (watched == Label1)
            label1Click();
        else if (watched == Label2)
            label2Click();
        else if (watched == lblFolders)
            lblFoldersClick();
    }
    if (type == QEvent::FocusIn && (watched == txtFindString || watched == txtReplaceString))
        static_cast<QPlainTextEdit *>(watched)->selectAll();
    // Typing alone applies nothing, so a pattern left in the box without Enter
    // gives way to the one the file list shows; its own drop-down list taking
    // the focus is not leaving it.
    if (type == QEvent::FocusOut && (watched == cmbPattern || watched == cmbPattern->lineEdit())
        && static_cast<QFocusEvent *>(event)->reason() != Qt::PopupFocusReason
        && cmbPattern->currentText() != m_files->pattern())
        cmbPattern->setEditText(m_files->pattern());
    if (type == QEvent::MouseButtonDblClick && watched == txtLastFolder) {
        txtLastFolderDblClick();
        return true;
    }
    if (watched == lstFiles->viewport()) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        // Only the left button selects: a right press must not replace the
        // selection the pop-up is about to act on, nor a stray middle press.
        if ((type == QEvent::MouseButtonPress || type == QEvent::MouseButtonDblClick)
            && mouse->button() != Qt::LeftButton)
            return true;
        if (type == QEvent::MouseButtonRelease)
            lstFilesMouseUp(mouse->button(), mouse->position().toPoint());
    }
    if (type == QEvent::KeyPress) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
        // Keyboard ways to what the mouse does: Enter opens, the menu key pops up.
        if (watched == Dir1 && enter && Dir1->currentItem()) {
            dir1Click(Dir1->currentItem());
            return true;
        }
        if (watched == lstFiles && enter && lstFiles->currentIndex().isValid()) {
            lstFilesDblClick();
            return true;
        }
        if (watched == lstFiles && key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) {
            QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(), QPoint());
            return eventFilter(lstFiles, &menuKey);
        }
    }
    if (type == QEvent::ContextMenu && watched == lstFiles) {
        // The mouse's pop-up opens where the right button is released (the
        // MouseUp above); the menu key's opens at the current file.
        if (static_cast<QContextMenuEvent *>(event)->reason() != QContextMenuEvent::Mouse) {
            const QRect current = lstFiles->visualRect(lstFiles->currentIndex());
            mnuPopUpCase->popup(lstFiles->viewport()->mapToGlobal(current.isValid() ? current.center() : QPoint()));
        }
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void frmMain::closeEvent(QCloseEvent *event)
{
    Settings(QStringLiteral("save"));
    // Closing the main window takes the viewer with it, unsaved edits included.
    if (m_viewer)
        m_viewer->close();
    event->accept();
}

void frmMain::startUp()
{
    // Start-up shows no message: a folder the program was merely started
    // from gets no hand-off files, and one that cannot take them costs the
    // updater nothing this program relies on.
    vexalo::HandOff::write(vexalo::FilePath::fromString(m_services.places->workingFolder()));

    Settings(QStringLiteral("get"));
    txtFindString->setPlainText(FindString);
    txtReplaceString->setPlainText(ReplaceString);

    // txtLastFolder shows Folder1 as stored, even when it is gone; Dir1 opens
    // the nearest folder that still exists.
    const QString programFolder = m_services.places->programFolder();
    txtLastFolder->setText(vexalo::displayName(Folders.value(0)));
    if (!setDir1Path(vexalo::folderToOpen(Folders.value(0), programFolder), nullptr))
        setDir1Path(programFolder, nullptr);

    const vexalo::ProtectedList list = vexalo::enterProgramFolder(*m_services.places);
    ExceptionList = list.extensions;
    ExceptionListError = list.error;
}

void frmMain::Settings(const QString &task)
{
    const twips::WindowGeometry outer = twips::outerGeometry(this);
    vexalo::MainWindowState state;
    state.left = outer.left;
    state.top = outer.top;
    state.width = outer.width;
    state.height = outer.height;
    state.minimized = isMinimized();
    state.maximized = isMaximized();
    state.findString = FindString;
    state.replaceString = ReplaceString;
    state.folders = Folders;
    state.regularExpression = mnuRegularExpression->isChecked();

    const vexalo::SettingsResult result = m_settingsStore.run(task, state);
    if (result.task == vexalo::SettingsTask::Save) {
        // The window closes all the same; the user learns that this run's
        // values are lost rather than finding the old ones at the next start.
        if (!result.ok)
            showMessage(tr("The settings could not be saved.\n%1").arg(result.error), QString(),
                        MessageRequest::Icon::Exclamation);
        return;
    }

    // A store that could not be read still gave its defaults: the program
    // starts as on a first run, without a message.
    QList<QRect> screens;
    for (const QScreen *screen : QGuiApplication::screens())
        screens << screen->geometry();
    vexalo::keepOnScreen(state, screens);
    const QRect placed(twips::toPixels(state.left), twips::toPixels(state.top), twips::toPixels(state.width),
                       twips::toPixels(state.height));
    const QRect reachable = placement::tallAtTop(placed, placement::workAreas());
    if (reachable != placed)
        state.top = twips::fromPixels(reachable.top());
    twips::setOuterGeometry(this, {state.left, state.top, state.width, state.height});
    FindString = state.findString;
    ReplaceString = state.replaceString;
    Folders = state.folders;
    mnuRegularExpression->setChecked(state.regularExpression);
}

void frmMain::useJournal(const QString &location)
{
    m_journal = vexalo::Journal(vexalo::FilePath::fromString(location));
    updateUndo();
}

void frmMain::useSettingsFile(const QString &iniFile)
{
    m_settingsStore = vexalo::SettingsStore(m_services.places->programFolder(), iniFile);
}

void frmMain::showMessage(const QString &text, const QString &title, MessageRequest::Icon icon)
{
    MessageRequest request;
    request.text = text;
    request.title = title;
    request.icon = icon;
    m_services.messages->show(this, request);
}

void frmMain::mnuEmailClick()
{
    HelpLinks(m_services, this, m_services.places->programFolder()).emailAuthor();
}

void frmMain::mnuWebSiteClick()
{
    HelpLinks(m_services, this, m_services.places->programFolder()).openWebSite();
}

void frmMain::mnuForumsClick()
{
    HelpLinks(m_services, this, m_services.places->programFolder()).openForums();
}

void frmMain::mnuOnlineHelpClick()
{
    HelpLinks(m_services, this, m_services.places->programFolder()).openOnlineHelp();
}

void frmMain::mnuUpdateClick()
{
    // The updater lives beside the program. The working folder follows the
    // user's browsing, and an "Update" or "Fennick" found there (an unpacked
    // download, say) is not this program's to rename or to run.
    vexalo::OnlineUpdate::run(vexalo::FilePath::fromString(m_services.places->programFolder()), m_services, this,
                              [this] { close(); });
}

void frmMain::mnuAboutClick()
{
    m_about.open(this);
}
