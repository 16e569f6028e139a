// SPDX-License-Identifier: MIT
#pragma once

#include "engine/journal/Journal.h"
#include "engine/runs/Runs.h"
#include "platform/MessageBoxes.h"
#include "platform/Services.h"
#include "settings/SettingsStore.h"
#include "ui/frmViewer/frmViewer.h"
#include "ui/help/AboutWindowOpener.h"

#include <QHash>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>

class FileListModel;
class QAction;
class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QPlainTextEdit;
class QPushButton;

// The main window. Its controls and strings are the program's shared state:
// handlers read their inputs from them and write their outcome back, and the
// start-up, settings and help modules reach them the same way, so they are
// public members carrying their given names.
class frmMain : public QMainWindow {
    Q_OBJECT
public:
    explicit frmMain(const Services &services, QWidget *parent = nullptr);
    ~frmMain() override;

    // The window's Load, run once before it is first shown: the updater's
    // hand-off files, the stored settings, the two texts, Dir1 on the last
    // folder, then the program folder as working folder and the
    // protected-extension list from there.
    void startUp();

    // Moves the window's geometry, the two texts and the folder history
    // between the window and the settings store: "get" loads, any other task
    // saves.
    void Settings(const QString &task);
    // Keeps the settings in the given INI file instead of the user's store.
    void useSettingsFile(const QString &iniFile);

    // Dir1.Path: the folder the folder list shows as current.
    QString dir1Path() const { return m_dir1Path; }
    // Opens folder in Dir1 and, when it differs, runs Dir1's Change. On failure
    // nothing changes and *error holds the reason.
    bool setDir1Path(const QString &folder, QString *error);
    // Drive1.Drive: the root of the volume chosen in the drive list.
    QString drive1Drive() const;
    // Chooses the drive that holds path; runs Drive1's Change when it differs.
    void setDrive1Drive(const QString &path);

    FileListModel *fileList() const { return m_files; }
    // The selected names of lstFiles in list order.
    QStringList selectedFileNames() const;
    frmViewer *viewer() const { return m_viewer; }

    // Mirrors of the two text fields; the settings store persists them.
    QString FindString;
    QString ReplaceString;
    // Folder1 (newest) to Folder5 (oldest).
    QStringList Folders;
    QString ExceptionList;
    // Why the protected-extension list could not be read at start-up; empty
    // when it was read (or there was none). The Replace command refuses while
    // a list file stays unreadable.
    QString ExceptionListError;

    // Controls, in tab order.
    QComboBox *Drive1 = nullptr;
    QListWidget *Dir1 = nullptr;
    QListView *lstFiles = nullptr;
    QPushButton *cmdSelectAll = nullptr;
    QPushButton *cmdClear = nullptr;
    QPushButton *cmdLower = nullptr;
    QPushButton *cmdUpper = nullptr;
    QComboBox *cmbPattern = nullptr;
    QPlainTextEdit *txtFindString = nullptr;
    QPlainTextEdit *txtReplaceString = nullptr;
    QPlainTextEdit *txtResults = nullptr;
    QCheckBox *chkBackup = nullptr;
    QCheckBox *chkCaseSensitive = nullptr;
    QCheckBox *chkTrim = nullptr;
    QPushButton *cmdReplace = nullptr;
    QPushButton *cmdRestore = nullptr;
    QPushButton *cmdExit = nullptr;
    QLineEdit *txtLastFolder = nullptr;
    QLabel *lblPattern = nullptr;
    QLabel *Label1 = nullptr;
    QLabel *Label2 = nullptr;
    QLabel *Label3 = nullptr;
    QLabel *lblRegularExpression = nullptr; // beside Label3 while the option is on
    QLabel *lblFolders = nullptr;
    QFrame *Shape1 = nullptr;

    // Commands beyond the buttons: Preview, Replace and Restore again, and
    // Undo Last Run.
    QMenu *mnuRun = nullptr;
    QAction *mnuPreview = nullptr;
    QAction *mnuReplace = nullptr;
    QAction *mnuRestore = nullptr;
    QAction *mnuUndo = nullptr;
    QAction *mnuRegularExpression = nullptr; // checkable
    QMenu *mnuHelp = nullptr;
    QAction *mnuEmail = nullptr;
    QAction *mnuWebSite = nullptr;
    QAction *mnuForums = nullptr;
    QAction *mnuOnlineHelp = nullptr;
    QAction *mnuUpdate = nullptr;
    QAction *mnuSel = nullptr;
    QAction *mnuAbout = nullptr;
    QMenu *mnuPopUpCase = nullptr;
    QAction *mnuUpperCase = nullptr;
    QAction *mnuLowerCase = nullptr;
    QAction *mnuSelectAll = nullptr;
    QAction *mnuUnSelectAll = nullptr;

    // Keeps the journal of Replace runs, which Undo Last Run reads, here
    // instead of in the user's state folder.
    void useJournal(const QString &location);

    // Tests shorten the wait before a run's progress dialog shows.
    void setProgressDelay(int ms) { m_progressDelayMs = ms; }

public slots:
    void mnuEmailClick();
    void mnuWebSiteClick();
    void mnuForumsClick();
    void mnuOnlineHelpClick();
    void mnuUpdateClick();
    void mnuAboutClick();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createControls();
    void createMenus();
    void assignAccessKeys();
    void connectHandlers();
    void describeForAssistiveTools();

    // Folder browser (frmMainBrowser.cpp).
    void drive1Change();
    void dir1Change();
    void dir1Click(QListWidgetItem *item);
    void cmbPatternClick();
    void cmbPatternTyped();
    void refreshDrives();
    void txtLastFolderDblClick();
    void lblFoldersClick();
    void goToFolder(const QString &folder);
    void fillDir1(const QString &folder);

    // File list and case conversion (frmMainFiles.cpp).
    void cmdSelectAllClick();
    void cmdClearClick();
    void mnuSelectAllClick();
    void mnuUnSelectAllClick();
    void lstFilesMouseUp(Qt::MouseButton button, const QPoint &position);
    void lstFilesClick();
    void lstFilesDblClick();
    void loadCurrentFileIntoViewer();
    // Says so and answers true when the current file is too large for the viewer.
    bool refusedByViewer();
    void cmdUpperClick();
    void cmdLowerClick();
    void mnuUpperCaseClick();
    void mnuLowerCaseClick();
    void convertCase(bool toUpper, const QString &title);

    // Text fields and the two runs (frmMainCommands.cpp).
    void txtFindStringChange();
    void txtReplaceStringChange();
    void label1Click();
    void label2Click();
    void swapTexts();
    void cmdReplaceClick();
    void cmdRestoreClick();
    void mnuPreviewClick();
    void mnuUndoClick();
    // Undo Last Run is offered only while the journal holds a run to undo.
    void updateUndo();
    vexalo::ReplaceJob replaceJob(const QString &findText, const QString &replaceText) const;
    void cmdExitClick();
    bool selectionCheck(const QString &title);
    bool protectedListCheck(const QString &title, bool preview);
    bool regularExpressionCheck(const QString &title, const QString &find, const QString &replace);
    void mnuRegularExpressionClick();
    void startRun();
    void recordRunFolder();
    void finishRun(const vexalo::RunSummary &summary, const QString &closingLine = {});

    // The log in txtResults, scrolled to its end.
    void showResults(QString log);
    void showMessage(const QString &text, const QString &title, MessageRequest::Icon icon);
    void reportViewerFailure(const vexalo::FilePath &path, const QString &reason);

    Services m_services;
    vexalo::SettingsStore m_settingsStore;
    vexalo::Journal m_journal;
    // How long a Replace or Restore may run before its progress dialog shows.
    int m_progressDelayMs = 400;
    AboutWindowOpener m_about; // the one About window, which outlives this one if left open
    FileListModel *m_files = nullptr;
    QPointer<frmViewer> m_viewer;
    QString m_dir1Path;
    // Moving to a drive reopens the folder last shown on it in this run.
    QHash<QString, QString> m_lastFolderOnDrive;
    // Where the walk through the history stands, and the folder it left shown.
    qsizetype m_walkIndex = -1;
    QString m_walkFolder;
};
